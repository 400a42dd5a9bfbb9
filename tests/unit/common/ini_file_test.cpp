#include "common/ini_file.h"

#include <gtest/gtest.h>

namespace {

std::string Find(std::string_view text, std::string_view key) {
  std::optional<std::string_view> value = IniFind(text, "Quovane", key);
  return value ? std::string(*value) : std::string("<missing>");
}

}  // namespace

TEST(IniFind, MatchesNamesWithoutCaseAndTrims) {
  const std::string text =
      "; comment = not a key\n"
      "[other]\nLogLevel=9\n"
      "  [ QUOVANE ]  \n"
      "  loglevel =  3  \n"
      "Empty=\n"
      "Quoted=\" \"\n"
      "Single='abc'\n"
      "Half=\"abc\n"
      "NoEquals\n"
      ";Commented=1\n";
  EXPECT_EQ(Find(text, "LogLevel"), "3");
  EXPECT_EQ(Find(text, "empty"), "");
  EXPECT_EQ(Find(text, "Quoted"), " ");
  EXPECT_EQ(Find(text, "Single"), "abc");
  EXPECT_EQ(Find(text, "Half"), "\"abc");
  EXPECT_EQ(Find(text, "NoEquals"), "<missing>");
  EXPECT_EQ(Find(text, "Commented"), "<missing>");
  EXPECT_EQ(Find(text, ";Commented"), "<missing>");
  EXPECT_EQ(Find("", "LogLevel"), "<missing>");
}

TEST(IniFind, ReadsWindowsLineEndsAndTheFirstOfDuplicates) {
  EXPECT_EQ(Find("[Quovane]\r\nA=1\r\nA=2\r\n", "A"), "1");
  EXPECT_EQ(Find("[Quovane]\nB=1\n[Quovane]\nA=2", "A"), "2");
}

TEST(IniAssign, RewritesTheKeyInPlaceAndKeepsEveryOtherByte) {
  const std::string text =
      "; settings\n[Quovane]\nBrokerIP=old\n\n; keep me\n  LogLevel = 3 \n[Other]\nX=1\n";
  EXPECT_EQ(IniAssign(text, "Quovane", "loglevel", "4"),
            "; settings\n[Quovane]\nBrokerIP=old\n\n; keep me\nLogLevel=4\n[Other]\nX=1\n");
}

TEST(IniAssign, AddsAfterTheSectionsLastKey) {
  EXPECT_EQ(IniAssign("[Quovane]\nA=1\n\n[Other]\nX=1\n", "Quovane", "B", "2"),
            "[Quovane]\nA=1\nB=2\n\n[Other]\nX=1\n");
  EXPECT_EQ(IniAssign("[Quovane]", "Quovane", "B", "2"), "[Quovane]\nB=2\n");
}

TEST(IniAssign, CreatesTheSectionWhenMissing) {
  EXPECT_EQ(IniAssign("", "Quovane", "A", "1"), "[Quovane]\nA=1\n");
  EXPECT_EQ(IniAssign("[Other]\nX=1", "Quovane", "A", "1"), "[Other]\nX=1\n[Quovane]\nA=1\n");
}

TEST(IniAssign, KeepsWindowsLineEnds) {
  EXPECT_EQ(IniAssign("[Quovane]\r\nA=1\r\n", "Quovane", "A", "2"), "[Quovane]\r\nA=2\r\n");
  EXPECT_EQ(IniAssign("[Quovane]\r\nA=1\r\n", "Quovane", "B", "2"),
            "[Quovane]\r\nA=1\r\nB=2\r\n");
}

TEST(IniAssign, WhatIsWrittenReadsBack) {
  std::string text = "; header\n[Quovane]\nKeep=this\n";
  const char* values[] = {"", "0", "x y", "a=b=c", "[not a section]", ";not a comment", "'q'x"};
  int n = 0;
  for (const char* value : values) {
    std::string key = "Key" + std::to_string(n++);
    text = IniAssign(text, "Quovane", key, value);
    text = IniAssign(text, "Quovane", key, value);  // a rewrite changes nothing
    EXPECT_EQ(Find(text, key), value);
  }
  EXPECT_EQ(Find(text, "Keep"), "this");
  EXPECT_EQ(text.find("; header\n[Quovane]\nKeep=this\n"), 0u);
}

TEST(IsStorableIniPair, RefusesWhatWouldPlantALineOrNotReadBack) {
  EXPECT_TRUE(IsStorableIniPair("LogLevel", "3"));
  EXPECT_TRUE(IsStorableIniPair("DefaultPage", "http://h:1/p?a=b"));
  EXPECT_FALSE(IsStorableIniPair("LogLevel", "3\nAppPath=/tmp"));
  EXPECT_FALSE(IsStorableIniPair("LogLevel", "3\r"));
  EXPECT_FALSE(IsStorableIniPair("Log\nLevel", "3"));
  EXPECT_FALSE(IsStorableIniPair("", "3"));
  EXPECT_FALSE(IsStorableIniPair("  ", "3"));
  EXPECT_FALSE(IsStorableIniPair("a=b", "3"));
  EXPECT_FALSE(IsStorableIniPair("[Other]", "3"));
  EXPECT_FALSE(IsStorableIniPair(";x", "3"));
}
