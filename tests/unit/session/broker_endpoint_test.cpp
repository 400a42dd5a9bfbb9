#include "session/broker_endpoint.h"

#include <gtest/gtest.h>

#include <memory>

#include "common/ini_file.h"
#include "support/work_dir.h"

namespace {

class EndpointTest : public ::testing::Test {
 protected:
  std::unique_ptr<QvBrokerEndpoint> Load(const std::string& settings) {
    WriteText("vane.ini", "[Quovane]\n" + settings);
    auto endpoint = std::make_unique<QvBrokerEndpoint>();
    EXPECT_EQ(endpoint->LoadEndpoint(), 0);
    return endpoint;
  }
  std::string Setting(const std::string& key) {
    return std::string(IniFind(ReadText("vane.ini"), "Quovane", key).value_or("<missing>"));
  }
  ScopedWorkDir dir;
};

}  // namespace

TEST_F(EndpointTest, StartsEmptyAndLoadsFromTheSettings) {
  QvBrokerEndpoint fresh;
  EXPECT_EQ(fresh.GetCurrentPort(), -1);
  EXPECT_EQ(fresh.GetSecurePort(), -1);
  EXPECT_EQ(fresh.GetAltPort(0), -1);

  auto loaded = Load(
      "BrokerIP=broker.example\nSearchIP=search\nBrokerPort=8080\nBrokerSecurePort=8443\n"
      "AlternativeBrokerPorts=80;443\n");
  EXPECT_EQ(loaded->GetBrokerIP(), "broker.example");
  EXPECT_EQ(loaded->GetSearchIP(), "search");
  EXPECT_EQ(loaded->GetPort(), 8080);
  EXPECT_EQ(loaded->GetCurrentPort(), 8080);
  EXPECT_EQ(loaded->GetSecurePort(), 8443);
  EXPECT_EQ(loaded->GetAltPort(0), 80);
  EXPECT_EQ(loaded->GetAltPort(1), 443);
  EXPECT_EQ(loaded->GetAltPort(2), -1);
}

TEST_F(EndpointTest, AlternativePortLists) {
  auto none = Load("AlternativeBrokerPorts=0\n");
  for (int i = -1; i <= 8; ++i) EXPECT_EQ(none->GetAltPort(i), -1) << i;

  auto ten = Load("AlternativeBrokerPorts=1;2;3;4;5;6;7;8;9;10\n");
  EXPECT_EQ(ten->GetAltPort(7), 8);
  EXPECT_EQ(ten->GetAltPort(8), -1);

  auto missing = Load("");
  EXPECT_EQ(missing->GetAltPort(0), -1);
  EXPECT_EQ(missing->GetCurrentPort(), 0);
  EXPECT_EQ(missing->GetBrokerIP(), "0");
}

TEST_F(EndpointTest, AWorkingAlternativeSwapsWithThePreviousPort) {
  auto endpoint = Load("BrokerPort=80\nAlternativeBrokerPorts=8080;443\n");
  endpoint->RecordWorkingPort(endpoint->GetCurrentPort(), 8080);
  endpoint->SetCurrentPort(8080, true);
  EXPECT_EQ(endpoint->GetAltPort(0), 80);
  EXPECT_EQ(endpoint->GetAltPort(1), 443);
  EXPECT_EQ(endpoint->GetCurrentPort(), 8080);
  EXPECT_EQ(Setting("AlternativeBrokerPorts"), "80;443");
  EXPECT_EQ(Setting("BrokerPort"), "8080");

  endpoint->SetCurrentPort(443, false);
  EXPECT_EQ(Setting("BrokerPort"), "8080");
}

TEST_F(EndpointTest, RecordWorkingPortEdges) {
  // Duplicates of the working port all leave; no previous port to keep.
  auto endpoint = Load("AlternativeBrokerPorts=9;8080;9\n");
  endpoint->RecordWorkingPort(-1, 9);
  EXPECT_EQ(endpoint->GetAltPort(0), -1);
  EXPECT_EQ(endpoint->GetAltPort(1), 8080);
  EXPECT_EQ(Setting("AlternativeBrokerPorts"), "8080");

  // A full list of long numbers is cut to 63 characters at an item boundary.
  auto full = Load(
      "AlternativeBrokerPorts=1;1000000002;1000000003;1000000004;1000000005;1000000006\n");
  full->RecordWorkingPort(1000000007, 1);
  EXPECT_EQ(full->GetAltPort(0), 1000000007);
  EXPECT_EQ(Setting("AlternativeBrokerPorts"),
            "1000000007;1000000002;1000000003;1000000004;1000000005");
}
