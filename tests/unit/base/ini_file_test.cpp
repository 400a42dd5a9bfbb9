#include "base/ini_file.h"

#include <gtest/gtest.h>

namespace {

std::string Find(std::string_view text, std::string_view key) {
  return std::string(IniFind(text, "Quovane", key).value_or("<missing>"));
}

}  // namespace

TEST(IniFind, MatchesNamesWithoutCaseTrimsAndTakesTheFirstOfDuplicates) {
  const std::string text =
      "; comment = not a key\n[other]\nLogLevel=9\n  [ QUOVANE ]  \n  loglevel =  3  \nEmpty=\n"
      "Quoted=\" \"\nSingle='abc'\nHalf=\"abc\nNoEquals\n;Commented=1\nEmpty=x\n";
  EXPECT_EQ(Find(text, "LogLevel"), "3");
  EXPECT_EQ(Find(text, "empty"), "");
  EXPECT_EQ(Find(text, "Quoted"), " ");
  EXPECT_EQ(Find(text, "Single"), "abc");
  EXPECT_EQ(Find(text, "Half"), "\"abc");
  for (const char* key : {"NoEquals", "Commented", ";Commented"}) {
    EXPECT_EQ(Find(text, key), "<missing>") << key;
  }
  EXPECT_EQ(Find("", "LogLevel"), "<missing>");
  EXPECT_EQ(Find("[Quovane]\r\nA=1\r\nA=2\r\n", "A"), "1");
  EXPECT_EQ(Find("[Quovane]\nB=1\n[Quovane]\nA=2", "A"), "2");
}

TEST(IniAssign, RewritesInPlaceOrAddsAfterTheLastKeyKeepingEveryOtherByte) {
  struct Case {
    const char *text, *key, *expected;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"; s\n[Quovane]\nA=old\n\n; keep\n  LogLevel = 3 \n[Other]\nX=1\n", "loglevel",
            "; s\n[Quovane]\nA=old\n\n; keep\nLogLevel=4\n[Other]\nX=1\n"},
           {"[Quovane]\nA=1\n\n[Other]\nX=1\n", "B", "[Quovane]\nA=1\nB=4\n\n[Other]\nX=1\n"},
           {"[Quovane]", "B", "[Quovane]\nB=4\n"},
           {"", "A", "[Quovane]\nA=4\n"},
           {"[Other]\nX=1", "A", "[Other]\nX=1\n[Quovane]\nA=4\n"},
           {"[Quovane]\r\nA=1\r\n", "A", "[Quovane]\r\nA=4\r\n"},
           {"[Quovane]\r\nA=1\r\n", "B", "[Quovane]\r\nA=1\r\nB=4\r\n"}}) {
    EXPECT_EQ(IniAssign(c.text, "Quovane", c.key, "4"), c.expected) << c.text;
  }
}

TEST(IniAssign, WhatIsWrittenReadsBackAndARewriteChangesNothing) {
  const std::string head = "; header\n[Quovane]\nKeep=this\n";
  std::string text = head;
  int n = 0;
  for (const char* value : {"", "0", "x y", "a=b=c", "[not a section]", ";not a comment", "'q'x"}) {
    const std::string key = "Key" + std::to_string(n++);
    text = IniAssign(text, "Quovane", key, value);
    EXPECT_EQ(IniAssign(text, "Quovane", key, value), text);
    EXPECT_EQ(Find(text, key), value);
  }
  EXPECT_EQ(text.find(head), 0u);
}

TEST(IsStorableIniPair, RefusesWhatWouldPlantALineOrNotReadBack) {
  EXPECT_TRUE(IsStorableIniPair("LogLevel", "3"));
  EXPECT_TRUE(IsStorableIniPair("DefaultPage", "http://h:1/p?a=b"));
  EXPECT_FALSE(IsStorableIniPair("LogLevel", "3\nAppPath=/tmp"));
  EXPECT_FALSE(IsStorableIniPair("LogLevel", "3\r"));
  for (const char* key : {"Log\nLevel", "", "  ", "a=b", "[Other]", ";x"}) {
    EXPECT_FALSE(IsStorableIniPair(key, "3")) << key;
  }
}
