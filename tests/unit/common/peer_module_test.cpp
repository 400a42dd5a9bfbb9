#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/QvPeerModule.h"
#include "common/settings.h"
#include "support/work_dir.h"
#include "unit/common/test_module.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Parse(QvPeerModule& module, const char* query) {
  module.ParseString(query);
  Pairs pairs;
  for (int i = 0; i < module.GetNumQueryParams(); ++i) {
    pairs.emplace_back(module.GetCgiKey(i), module.GetCgiValue(i));
  }
  return pairs;
}

class PeerModuleTest : public ::testing::Test {
 protected:
  void TearDown() override { QvLog::ReleaseInstance(); }
  ScopedWorkDir dir;
  TestModule module;
};

}  // namespace

TEST_F(PeerModuleTest, SplitsAtAmpersandsAndTheLastEquals) {
  EXPECT_EQ(Parse(module, "a=1&b=&c"), (Pairs{{"a", "1"}, {"b", ""}, {"c", ""}}));
  EXPECT_EQ(Parse(module, "x=1=2&X=3"), (Pairs{{"x=1", "2"}, {"X", "3"}}));
  EXPECT_STREQ(module.GetCgiValue("X=1"), "2");  // the first match wins
  EXPECT_EQ(Parse(module, "&a=1&&b=2&"), (Pairs{{"", ""}, {"a", "1"}, {"", ""}, {"b", "2"}, {"", ""}}));
  // Values stay encoded for the caller to decode.
  EXPECT_EQ(Parse(module, "q=a%20b+c%26d"), (Pairs{{"q", "a%20b+c%26d"}}));
  // An empty query keeps what was there.
  EXPECT_EQ(Parse(module, ""), (Pairs{{"q", "a%20b+c%26d"}}));
  EXPECT_EQ(Parse(module, nullptr), (Pairs{{"q", "a%20b+c%26d"}}));
}

TEST_F(PeerModuleTest, KeepsTheFirstHundredParameters) {
  std::string query;
  for (int i = 0; i < 150; ++i) query += (i ? "&k" : "k") + std::to_string(i) + "=" + std::to_string(i);
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
  module.ParseString("creds=alice:pw2&a=b:c");
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{
                               "ParseString: : operation=proxy&creds=bob", "Done ParseString",
                               "ParseString: : operation=proxy&creds=", "Done ParseString",
                               "ParseString: : creds=alice", "Done ParseString"}));
  EXPECT_STREQ(module.GetCgiValue("creds"), "alice:pw2");
}

TEST_F(PeerModuleTest, DomainAndUserComeFromTheSettings) {
  UseSettings(0, "DomainSID=D1\nBrokerSID=B1\nVendorSID=\nUserSID=S-42\n");
  QvDomain* domain = module.GetDomain();
  EXPECT_EQ(module.GetDomain(), domain);
  EXPECT_STREQ(domain->m_szDomainSID, "D1");
  EXPECT_EQ(domain->m_szVendorSID, nullptr);
  EXPECT_EQ(domain->Load(), -1);

  QvUser* user = module.GetUser();
  EXPECT_EQ(module.GetUser(), user);
  EXPECT_STREQ(user->m_szUserSID, "S-42");
  EXPECT_STREQ(user->m_szUserUID, "0");
  user->SetUserUID("alice");
  EXPECT_EQ(QvSettings::GetInstance()->UserUID(), "alice");
  EXPECT_NE(module.GetDevice(), nullptr);
  EXPECT_EQ(module.GetDevice(), module.GetDevice());
}

TEST(QvUserCopy, IsDeepAndBoundsTheEntryTexts) {
  QvUser source;
  source.m_nEntries = 1;
  source.m_pEntries = new QvUserEntry[1];
  // Texts from another module may fill their fields without a terminator.
  std::fill(std::begin(source.m_pEntries[0].szName), std::end(source.m_pEntries[0].szName), 'n');
  std::fill(std::begin(source.m_pEntries[0].szType), std::end(source.m_pEntries[0].szType), 't');
  std::strcpy(source.m_pEntries[0].szValue, "v0");
  source.m_pEntries[0].nValues[5] = 35;
  source.m_nRecords = 1;
  source.m_pRecords = new QvUserRecord[1];
  for (int i = 0; i < 132; ++i) source.m_pRecords[0].bytes[i] = static_cast<unsigned char>(i);

  QvUser copy(&source);
  ASSERT_EQ(copy.m_nEntries, 1);
  EXPECT_EQ(std::string(copy.m_pEntries[0].szName), std::string(127, 'n'));
  EXPECT_EQ(std::string(copy.m_pEntries[0].szType), std::string(31, 't'));
  EXPECT_STREQ(copy.m_pEntries[0].szValue, "v0");
  EXPECT_EQ(copy.m_pEntries[0].nValues[5], 35);
  source.m_pRecords[0].bytes[0] = 99;
  EXPECT_EQ(copy.m_pRecords[0].bytes[131], 131);
  EXPECT_EQ(copy.m_pRecords[0].bytes[0], 0);

  QvUser inconsistent;
  inconsistent.m_nEntries = 3;  // no array behind the count
  EXPECT_EQ(QvUser(&inconsistent).m_pEntries, nullptr);
  inconsistent.m_nEntries = 0;
  EXPECT_EQ(QvUser(nullptr).m_szUserUID, nullptr);
}
