#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include "common/QvPeerModule.h"
#include "common/lookup_table.h"
#include "support/work_dir.h"
#include "unit/common/test_module.h"

namespace {

std::string Decode(const char* text, bool keep) {
  std::unique_ptr<char[]> decoded(QvPeerModule::URLDecode(text, keep));
  return decoded.get();
}

std::string UnEsc(std::string text) {
  TestModule module;
  module.UnEsc(text.data());
  return text.c_str();
}

std::string Replace(const char* source, const char* search, const char* with, size_t size = 64) {
  std::string dest(size + 4, '#');
  QvPeerModule::Replace(source, search, with, dest.data(), size);
  EXPECT_EQ(dest.substr(size), "####");
  return dest.c_str();
}

}  // namespace

TEST(URLDecode, DecodesEscapesKeepingUpperCaseSeparatorsOnRequest) {
  EXPECT_EQ(Decode("a%20b+c%41%6a%4A", false), "a b cAjJ");
  EXPECT_EQ(Decode("x%3Dy%26z", false), "x=y&z");
  EXPECT_EQ(Decode("x%3Dy%26z", true), "x%3Dy%26z");
  EXPECT_EQ(Decode("x%3dy+%26", true), "x=y %26");
  EXPECT_EQ(QvPeerModule::URLDecode(nullptr, false), nullptr);
}

TEST(URLDecode, ShortOrInvalidEscapes) {
  // A '%' with nothing or no digit after it gives a zero byte: the text ends.
  EXPECT_EQ(Decode("abc%", false), "abc");
  EXPECT_EQ(Decode("abc%zzdef", false), "abc");
  // A lone digit counts; the two characters are skipped even when no digits.
  EXPECT_EQ(Decode("ab%4", false), "ab\x04");
  EXPECT_EQ(Decode("%4g!", false), "\x04!");
  EXPECT_EQ(Decode("%2", true), "\x02");
}

TEST(URLDecode, LogsEachEscapeAtLevelFour) {
  ScopedWorkDir dir;
  UseSettings(4);
  Decode("%41", false);
  Decode("%3D", true);
  auto messages = LogMessages();
  QvLog::ReleaseInstance();
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "URLDecode decoding first 2 chars: 41", "URLDecode hexstr=: : 0x41",
                          "URLDecode char from hexstr= 65", "URLDecode decoding first 2 chars: 3D",
                          "URLDecode hexstr=: : 0x3D"}));
}

TEST(UnEsc, DecodesInPlaceAndLeavesShortEscapes) {
  EXPECT_EQ(UnEsc("a%20b+c%2fd"), "a b c/d");
  EXPECT_EQ(UnEsc("100%"), "100%");
  EXPECT_EQ(UnEsc("ab%4"), "ab%4");
  EXPECT_EQ(UnEsc("%41%"), "A%");
  TestModule module;
  EXPECT_EQ(module.Esc2Char("FF"), '\xff');
  // Nothing is validated: "G" counts as sixteen.
  EXPECT_EQ(module.Esc2Char("1G"), static_cast<char>(32));
}

TEST(Replace, ReplacesWithoutOverlapAndNeverPastTheDestination) {
  EXPECT_EQ(Replace("a-b-c", "-", "--"), "a--b--c");
  EXPECT_EQ(Replace("aaa", "aa", "x"), "xa");
  EXPECT_EQ(Replace("nothing", "zz", "y"), "nothing");
  EXPECT_EQ(Replace("abc", "abc", ""), "");
  EXPECT_EQ(Replace("abc", "", "x"), "abc");
  EXPECT_EQ(Replace("x.x.x.x", ".", "<dot>", 8), "x<dot>x");
  EXPECT_EQ(Replace(std::string(100, 'a').c_str(), "b", "c", 10), std::string(9, 'a'));
}

TEST(RotString, RotatesUpperCasedLettersIntoAThreadBuffer) {
  EXPECT_STREQ(QvPeerModule::RotString("abc"), "NOP");
  EXPECT_STREQ(QvPeerModule::RotString("Hello, World-1! @[`{"), "URYYB, JBEYQ-1! @[`{");
  EXPECT_STREQ(QvPeerModule::RotString(QvPeerModule::RotString("MixedCase")), "MIXEDCASE");
  EXPECT_EQ(std::strlen(QvPeerModule::RotString(std::string(300, 'a').c_str())), 127u);

  const char* mine = QvPeerModule::RotString("n");
  std::string other;
  std::thread([&other] { other = QvPeerModule::RotString("zzz"); }).join();
  EXPECT_STREQ(mine, "A");
  EXPECT_EQ(other, "MMM");
}

TEST(FormatDate, LocalDateAndTime) {
  char text[32] = "junk";
  QvPeerModule::FormatDate(0, text);
  EXPECT_STREQ(text, "");
  std::tm parts{};
  parts.tm_year = 124;
  parts.tm_mon = 2;
  parts.tm_mday = 7;
  parts.tm_hour = 9;
  parts.tm_min = 5;
  parts.tm_sec = 3;
  parts.tm_isdst = -1;
  time_t when = std::mktime(&parts);
  QvPeerModule::FormatDate(when, text);
  EXPECT_STREQ(text, "03.07.24");
  QvPeerModule::FormatTime(when, text);
  EXPECT_STREQ(text, "2024-03-07 09:05:03");
  QvPeerModule::FormatTime(0, text);
  EXPECT_EQ(std::strlen(text), 19u);
}

TEST(ParseResponse, FillsTheTableLaterKeysWinningUpToAHundredPairs) {
  QvLookupTable table;
  QvPeerModule::ParseResponse("k=1\nk=2&x=a=b&flag\r\n\n&&=v", &table);
  EXPECT_STREQ(table.GetValue("k"), "2");
  EXPECT_STREQ(table.GetValue("x=a"), "b");
  EXPECT_EQ(table.hasTag("flag\r"), 2);
  EXPECT_STREQ(table.GetValue(""), "v");
  EXPECT_EQ(table.GetCount(), 4);

  std::string answer;
  for (int i = 0; i < 120; ++i) answer += "t" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  QvLookupTable many;
  QvPeerModule::ParseResponse(answer.c_str(), &many);
  EXPECT_EQ(many.GetCount(), 100);
  EXPECT_EQ(many.hasTag("t100"), -1);
}
