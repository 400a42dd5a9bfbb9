#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/lookup_table.h"
#include "base/settings.h"
#include "broker/jsp_response.h"
#include "module/QvPeerModule.h"
#include "module/help_viewer.h"
#include "platform/socket.h"
#include "support/loopback.h"
#include "support/net_environment.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;
using Pairs = std::vector<std::pair<std::string, std::string>>;

class TestModule : public QvPeerModule {
 public:
  char* Execute(const char* query, void* extra) override {
    m_pRequest = static_cast<tagREQUEST*>(extra);
    if (m_pRequest != nullptr) ParseString(query);
    return nullptr;
  }
  bool DetailsMissing() const { return m_bDetailsMissing; }
};

// A text the module made for the caller to free.
std::string Owned(char* text) { return std::unique_ptr<char[]>(text).get(); }

class PeerModuleTest : public ::testing::Test {
 protected:
  // Settings with LogLevel=level (and more), read afresh by the log.
  static void UseSettings(int level, const std::string& more = "") {
    WriteIni("LogLevel=" + std::to_string(level) + "\n" + more);
    QvLog::ReleaseInstance();
  }
  Pairs Parse(const char* query) {
    module.ParseString(query);
    Pairs pairs;
    for (int i = 0; i < module.GetNumQueryParams(); ++i) {
      pairs.emplace_back(module.GetCgiKey(i), module.GetCgiValue(i));
    }
    return pairs;
  }

  ScopedWorkDir dir;
  TestModule module;
};

}  // namespace

TEST_F(PeerModuleTest, SplitsAtAmpersandsAndTheLastEqualsKeepingTheFirstHundredParameters) {
  EXPECT_EQ(Parse("a=1&b=&c"), (Pairs{{"a", "1"}, {"b", ""}, {"c", ""}}));
  EXPECT_EQ(Parse("x=1=2&X=3"), (Pairs{{"x=1", "2"}, {"X", "3"}}));
  EXPECT_STREQ(module.GetCgiValue("X=1"), "2");  // the first match wins
  EXPECT_EQ(Parse("&a=1&&b=2&"), (Pairs{{"", ""}, {"a", "1"}, {"", ""}, {"b", "2"}, {"", ""}}));
  // Values stay encoded for the caller to decode; an empty query keeps what was there.
  EXPECT_EQ(Parse("q=a%20b+c%26d"), (Pairs{{"q", "a%20b+c%26d"}}));
  EXPECT_EQ(Parse(""), (Pairs{{"q", "a%20b+c%26d"}}));
  EXPECT_EQ(Parse(nullptr), (Pairs{{"q", "a%20b+c%26d"}}));
  std::string query = "k0=0";
  for (int i = 1; i < 150; ++i) query += "&k" + std::to_string(i) + "=" + std::to_string(i);
  module.ParseString(query.c_str());
  ASSERT_EQ(module.GetNumQueryParams(), 100);
  EXPECT_STREQ(module.GetCgiKey(99), "k99");
  EXPECT_EQ(module.GetCgiValue(100), nullptr);
  EXPECT_EQ(module.GetCgiKey(-1), nullptr);
  EXPECT_EQ(module.GetCgiValue("k120"), nullptr);
  EXPECT_STREQ(module.GetCgiValue("K7"), "7");  // names compare ignoring case
  // A shorter query afterwards leaves nothing of the longer one reachable.
  module.ParseString("only=1");
  EXPECT_EQ(module.GetCgiKey(1), nullptr);
}

TEST_F(PeerModuleTest, LogsTheQueryButNeverAPassword) {
  UseSettings(3);
  module.ParseString("operation=proxy&creds=bob:s3cret&x=1");
  module.ParseString("operation=proxy&creds=bobs3cret");
  module.ParseString("operation=proxyinfo&CREDS=carol:S3cret");  // read in any case
  module.ParseString("creds=alice:pw2&a=b:c");
  EXPECT_EQ(LogMessages(),
            (Lines{"ParseString: : operation=proxy&creds=bob", "Done ParseString",
                   "ParseString: : operation=proxy&creds=", "Done ParseString",
                   "ParseString: : operation=proxyinfo&CREDS=carol", "Done ParseString",
                   "ParseString: : creds=alice", "Done ParseString"}));
  EXPECT_STREQ(module.GetCgiValue("creds"), "alice:pw2");
}

TEST_F(PeerModuleTest, DomainAndUserComeFromTheSettings) {
  UseSettings(0, "DomainSID=D1\nBrokerSID=B1\nVendorSID=\nUserSID=S-42\n");
  QvDomain* domain = module.GetDomain();
  EXPECT_STREQ(domain->m_szDomainSID, "D1");
  EXPECT_EQ(domain->m_szVendorSID, nullptr);
  EXPECT_EQ(domain->Load(), -1);
  QvUser* user = module.GetUser();
  EXPECT_STREQ(user->m_szUserSID, "S-42");
  EXPECT_STREQ(user->m_szUserUID, "0");
  user->SetUserUID("alice");
  EXPECT_EQ(QvSettings::GetInstance()->UserUID(), "alice");
}

TEST(QvUserCopy, IsDeepAndBoundsTheEntryTexts) {
  QvUser source;
  source.m_nEntries = source.m_nRecords = 1;
  source.m_pEntries = new QvUserEntry[1];
  source.m_pRecords = new QvUserRecord[1];
  QvUserEntry& entry = source.m_pEntries[0];
  // Texts from another module may fill their fields without a terminator.
  std::fill(std::begin(entry.szName), std::end(entry.szName), 'n');
  std::fill(std::begin(entry.szType), std::end(entry.szType), 't');
  std::strcpy(entry.szValue, "v0");
  entry.nValues[5] = 35;
  for (int i = 0; i < 132; ++i) source.m_pRecords[0].bytes[i] = static_cast<unsigned char>(i);
  QvUser copy(&source);
  source.m_pRecords[0].bytes[0] = 99;
  ASSERT_EQ(copy.m_nEntries, 1);
  const QvUserEntry& copied = copy.m_pEntries[0];
  EXPECT_EQ(std::string(copied.szName), std::string(127, 'n'));
  EXPECT_EQ(std::string(copied.szType), std::string(31, 't'));
  EXPECT_STREQ(copied.szValue, "v0");
  EXPECT_EQ(copied.nValues[5], 35);
  EXPECT_EQ(copy.m_pRecords[0].bytes[131], 131);
  EXPECT_EQ(copy.m_pRecords[0].bytes[0], 0);

  QvUser inconsistent;
  inconsistent.m_nEntries = 3;  // no array behind the count
  EXPECT_EQ(QvUser(&inconsistent).m_pEntries, nullptr);
  inconsistent.m_nEntries = 0;
  EXPECT_EQ(QvUser(nullptr).m_szUserUID, nullptr);
}

TEST_F(PeerModuleTest, SendBufferDeliversEverythingOnTheRequestSocketOrReportsAnError) {
  LoopbackPair pair;
  tagREQUEST request{};
  request.hSocket = pair.server();
  module.Execute("", &request);
  // Larger than the socket buffers, so it leaves in parts while being read.
  std::string big(4 << 20, 'x');
  for (size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<char>('a' + i % 26);
  std::string received;
  std::thread reader([&] { received = pair.ReadAll(pair.client()); });
  EXPECT_EQ(module.SendBuffer(big.data(), static_cast<int>(big.size())), 1);
  EXPECT_EQ(module.SendBuffer(nullptr, 0), 1);
  platform::SocketDescriptor socket = pair.server();
  EXPECT_EQ(QvPeerModule::SendBuffer("tail", 4, socket), 1);
  platform::ShutdownSend(pair.server());
  reader.join();
  EXPECT_EQ(received, big + "tail");

  LoopbackPair gone;
  gone.CloseClient();
  socket = gone.server();
  // The peer is gone: its reset stops the first send or the next one.
  int result = 1;
  for (int attempt = 0; attempt < 8 && result == 1; ++attempt) {
    result = QvPeerModule::SendBuffer(big.data(), 1 << 20, socket);
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(TestModule().SendBuffer("x", 1), 0);  // no request: nowhere to send
}

TEST_F(PeerModuleTest, ErrorAndRedirectAnswersAreBounded) {
  EXPECT_EQ(Owned(module.GetCgiErrorReturn("No such file", 404)),
            "HTTP/1.0 200 OK\nqvstatus: 404\n\n<html>No such file</html>\n");
  EXPECT_EQ(Owned(module.GetCgiErrorReturn(std::string(5000, 'm').c_str(), 1)).size(), 4095u);
  // A redirect prefers the decoded target and refuses what does not fit.
  const std::string found = "HTTP/1.0 302 Found\nLocation: ";
  module.ParseString("target=http%3A%2F%2Fhost%2Fp.htm&x=1");
  EXPECT_EQ(Owned(module.GetRedirectURL("/vclient/a.htm")), found + "http://host/p.htm?");
  module.ParseString("target=&x=1");
  EXPECT_EQ(Owned(module.GetRedirectURL("/vclient/a.htm")), found + "/vclient/a.htm?");
  EXPECT_EQ(Owned(module.GetRedirectURL(nullptr)), "");
  // The status line, "Location: " and "?" take 30 of the 255 characters.
  EXPECT_EQ(Owned(module.GetRedirectURL(std::string(225, 'a').c_str())).size(), 255u);
  EXPECT_EQ(Owned(module.GetRedirectURL(std::string(226, 'a').c_str())), "");
}

TEST_F(PeerModuleTest, JspDetailsMarkAMissingKey) {
  QvJspResponse response;
  ASSERT_EQ(response.BuildResponse("StatusCode=200\r\nn=x\r\nd=y\r\nk=brokerKey=K1\r\n"), 0);
  EXPECT_STREQ(module.GetJspDetails(&response, "brokerKey"), "K1");
  EXPECT_EQ(module.GetJspDetails(nullptr, "brokerKey"), nullptr);
  EXPECT_FALSE(module.DetailsMissing());
  EXPECT_EQ(module.GetJspDetails(&response, "BrokerKey"), nullptr);
  EXPECT_TRUE(module.DetailsMissing());
}

TEST_F(PeerModuleTest, ContentEntriesListEachNameOnceWithinTheLimit) {
  UseSettings(1);
  QvSettings* settings = QvSettings::GetInstance();
  module.MakeContentEntry("photos", "1.0");
  module.MakeContentEntry("music", "2.1");
  module.MakeContentEntry("photos", "1.1");
  module.MakeContentEntry("mus", "0.9");  // a part of a listed name counts as listed
  EXPECT_EQ(settings->ContentVersions(), "photos,music");
  EXPECT_EQ(settings->GetSetting("photos"), "1.1");
  EXPECT_EQ(settings->GetSetting("mus"), "0.9");

  for (int i = 0; i < 30; ++i) {
    module.MakeContentEntry(("content" + std::to_string(i)).c_str(), "1");
  }
  // 252 characters: content25 would make 262, past the limit of 254.
  EXPECT_EQ(settings->ContentVersions(),
            "photos,music,content0,content1,content2,content3,content4,content5,content6,content7,"
            "content8,content9,content10,content11,content12,content13,content14,content15,"
            "content16,content17,content18,content19,content20,content21,content22,content23,"
            "content24");
  EXPECT_EQ(settings->GetSetting("content29"), "1");
  EXPECT_EQ(LogMessages().back(),
            "MakeContentEntry: ContentVersions is full, not listed: content29");
}

TEST_F(PeerModuleTest, FileSizeAndModificationDate) {
  WriteText("a b.txt", std::string(1234, 'q'));
  EXPECT_EQ(module.QvGetFileSize("a b.txt"), 1234);
  EXPECT_EQ(module.QvGetFileSize("missing.txt"), 0);
  long size = 0;
  char date[32] = "";
  EXPECT_EQ(module.QvGetFileModifyDateAndSize("a%20b.txt", &size, date), 0);
  EXPECT_EQ(size, 1234);
  EXPECT_LE(std::abs(static_cast<long>(std::time(nullptr)) - std::stol(date)), 5);
  EXPECT_EQ(module.QvGetFileModifyDateAndSize("no%20such.txt", &size, date), ENOENT);
}

TEST_F(PeerModuleTest, HelpOpensAnExistingFileWithTheViewer) {
  fs::create_directory("bin");
  WriteText("bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > opened.txt\n");
  fs::permissions("bin/xdg-open", fs::perms::owner_all);
  fs::create_directory("help");
  WriteText("help/guide.chm", "help");

  auto viewer = FindHelpViewer("/nonexistent:" + (dir.path() / "bin").string());
  ASSERT_TRUE(viewer.has_value());
  auto started = StartHelpViewer(*viewer, "help\\guide.chm");
  ASSERT_TRUE(started.has_value());
  EXPECT_EQ(started->Wait(), 0);
  EXPECT_EQ(ReadText("opened.txt"), "help/guide.chm");
  EXPECT_FALSE(StartHelpViewer(*viewer, "help\\missing.chm").has_value());
  EXPECT_FALSE(FindHelpViewer("/nonexistent").has_value());
}

TEST(URLDecode, KeepsEncodedSeparatorsOnRequestAndEndsAtABadEscape) {
  auto decode = [](const char* text, bool keep) {
    return Owned(QvPeerModule::URLDecode(text, keep));
  };
  EXPECT_EQ(decode("a%20b+c%41%6a%4A", false), "a b cAjJ");
  EXPECT_EQ(decode("x%3Dy%26z", false), "x=y&z");
  EXPECT_EQ(decode("x%3Dy%26z", true), "x%3Dy%26z");
  EXPECT_EQ(decode("x%3dy+%26", true), "x=y %26");
  EXPECT_EQ(QvPeerModule::URLDecode(nullptr, false), nullptr);
  // A '%' with nothing or no digit after it gives a zero byte: the text ends.
  EXPECT_EQ(decode("abc%", false), "abc");
  EXPECT_EQ(decode("abc%zzdef", false), "abc");
  // A lone digit counts; the two characters are skipped even when no digits.
  EXPECT_EQ(decode("ab%4", false), "ab\x04");
  EXPECT_EQ(decode("%4g!", false), "\x04!");
  EXPECT_EQ(decode("%2", true), "\x02");
}

TEST_F(PeerModuleTest, UnEscDecodesInPlaceAndLeavesShortEscapes) {
  for (auto [text, expected] :
       {std::pair{"a%20b+c%2fd", "a b c/d"}, {"100%", "100%"}, {"ab%4", "ab%4"}, {"%41%", "A%"}}) {
    std::string decoded = text;
    module.UnEsc(decoded.data());
    EXPECT_STREQ(decoded.c_str(), expected);
  }
  EXPECT_EQ(module.Esc2Char("FF"), '\xff');
  EXPECT_EQ(module.Esc2Char("1G"), static_cast<char>(32));  // nothing validated: "G" is sixteen
}

TEST(Replace, ReplacesWithoutOverlapAndNeverPastTheDestination) {
  auto replace = [](const std::string& source, const char* search, const char* with,
                    size_t size = 64) {
    std::string dest(size + 4, '#');
    QvPeerModule::Replace(source.c_str(), search, with, dest.data(), size);
    EXPECT_EQ(dest.substr(size), "####");
    return std::string(dest.c_str());
  };
  EXPECT_EQ(replace("a-b-c", "-", "--"), "a--b--c");
  EXPECT_EQ(replace("aaa", "aa", "x"), "xa");
  EXPECT_EQ(replace("nothing", "zz", "y"), "nothing");
  EXPECT_EQ(replace("abc", "abc", ""), "");
  EXPECT_EQ(replace("abc", "", "x"), "abc");
  EXPECT_EQ(replace("x.x.x.x", ".", "<dot>", 8), "x<dot>x");
  EXPECT_EQ(replace(std::string(100, 'a'), "b", "c", 10), std::string(9, 'a'));
}

TEST(RotString, RotatesUpperCasedLettersIntoAThreadBuffer) {
  EXPECT_STREQ(QvPeerModule::RotString("Hello, World-1! @[`{"), "URYYB, JBEYQ-1! @[`{");
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
  std::tm parts{};  // 2024-03-07 09:05:03, local time
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
