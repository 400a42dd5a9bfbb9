// The broker's address and ports as the settings hold them, and the answers
// its pages give.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/ini_file.h"
#include "broker/broker_channel.h"
#include "broker/jsp_response.h"
#include "device/broker_endpoint.h"
#include "support/net_environment.h"
#include "support/work_dir.h"

namespace {

// The zero-terminated texts within a message's length.
std::vector<std::string> Tokens(const char* message, int length) {
  std::vector<std::string> tokens(1);
  for (const char* c = message; c < message + length; ++c) {
    if (*c == '\0') {
      tokens.emplace_back();
    } else {
      tokens.back() += *c;
    }
  }
  return tokens;
}

const std::string kHead = "StatusCode=200\r\nn=x\r\nd=y\r\nk=";

class JspResponseTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteSettings({}); }
  ScopedWorkDir dir;
  QvJspResponse response;
};

class EndpointTest : public ::testing::Test {
 protected:
  std::unique_ptr<QvBrokerEndpoint> Load(const std::string& settings) {
    WriteIni(settings);
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

TEST_F(EndpointTest, LoadsTheSettingsAndAtMostEightAlternatives) {
  EXPECT_EQ(QvBrokerEndpoint().GetCurrentPort(), -1);
  auto loaded = Load(
      "BrokerIP=broker.example\nBrokerPort=8080\nBrokerSecurePort=8443\n"
      "AlternativeBrokerPorts=80;443\n");
  EXPECT_EQ(loaded->GetBrokerIP(), "broker.example");
  EXPECT_EQ(loaded->GetCurrentPort(), 8080);
  EXPECT_EQ(loaded->GetSecurePort(), 8443);
  EXPECT_EQ(loaded->GetAltPort(1), 443);
  EXPECT_EQ(loaded->GetAltPort(2), -1);

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
  EXPECT_EQ(Setting("AlternativeBrokerPorts"), "80;443");
  EXPECT_EQ(Setting("BrokerPort"), "8080");
  endpoint->SetCurrentPort(443, false);
  EXPECT_EQ(Setting("BrokerPort"), "8080");

  // Duplicates of the working port all leave; no previous port to keep.
  auto duplicates = Load("AlternativeBrokerPorts=9;8080;9\n");
  duplicates->RecordWorkingPort(-1, 9);
  EXPECT_EQ(Setting("AlternativeBrokerPorts"), "8080");

  // A full list is cut to 63 characters at an item boundary.
  auto full =
      Load("AlternativeBrokerPorts=1;1000000002;1000000003;1000000004;1000000005;1000000006\n");
  full->RecordWorkingPort(1000000007, 1);
  EXPECT_EQ(full->GetAltPort(0), 1000000007);
  EXPECT_EQ(Setting("AlternativeBrokerPorts"),
            "1000000007;1000000002;1000000003;1000000004;1000000005");
}

// Only an explicit 0 turns the broker's pages plain: a typo or another word
// must not open the channel.
TEST_F(EndpointTest, OnlyAnExplicitZeroSendsTheBrokerPagesPlain) {
  for (const std::string line : {"=1", "=yes", "=true", "=on", "=01", "=", "=0", "absent"}) {
    WriteIni(line == "absent" ? "" : "SecureBrokerPages" + line + "\n");
    const bool plain = line == "=0";
    const BrokerRoute route = RouteBrokerPage(80, 443);
    EXPECT_EQ(route.secure, !plain) << line;
    EXPECT_EQ(route.port, plain ? 80 : 443) << line;
  }
}

TEST_F(JspResponseTest, SplitsTheFourLinesAndASecondAnswerReplacesTheFirst) {
  ASSERT_EQ(
      response.BuildResponse("StatusCode=200\r\nk2=x\r\nk3=y\r\nk4=brokerKey=K1&ip=10.0.0.7\r\n"),
      0);
  EXPECT_TRUE(response.IsOK());
  ASSERT_EQ(response.GetDetailsCount(), 2);
  EXPECT_STREQ(response.GetDetailsKey(0), "brokerKey");
  EXPECT_STREQ(response.GetDetailsValue(0), "K1");
  EXPECT_STREQ(response.GetDetails("ip"), "10.0.0.7");
  EXPECT_EQ(response.GetDetails("IP"), nullptr);
  EXPECT_EQ(response.GetDetailsKey(2), nullptr);
  EXPECT_EQ(response.GetDetailsValue(-1), nullptr);

  ASSERT_EQ(response.BuildResponse(kHead + "b=2\r\n"), 0);
  EXPECT_EQ(response.GetDetails("ip"), nullptr);
  EXPECT_STREQ(response.GetDetails("b"), "2");
  EXPECT_EQ(response.BuildResponse("<html><body>Proxy error</body></html>"), -1);
  EXPECT_EQ(response.GetStatus(), nullptr);
}

TEST_F(JspResponseTest, ShortAnswersLeaveTheMissingFieldsNull) {
  ASSERT_EQ(response.BuildResponse("StatusCode=200 \r\nn=a\r\n"), 0);
  EXPECT_FALSE(response.IsOK());
  QvJspResponse bare;
  ASSERT_EQ(bare.BuildResponse("StatusCode"), 0);
  EXPECT_EQ(bare.GetStatus(), nullptr);
  QvJspResponse one;
  ASSERT_EQ(one.BuildResponse("StatusCode=456"), 0);  // no CR: the status runs to the end
  EXPECT_STREQ(one.GetStatus(), "456");
  EXPECT_EQ(one.GetMsgPtr(0, nullptr), nullptr);
  QvJspResponse three;
  ASSERT_EQ(three.BuildResponse("StatusCode=457\r\nname=N\r\ndesc=Bad key="), 0);
  EXPECT_EQ(three.GetDetailsCount(), 0);
}

TEST_F(JspResponseTest, DetailItemsAndRecords) {
  ASSERT_EQ(response.BuildResponse("StatusCode=200\r\nn==x\r\nd=y\r\nk=a=1\r\n"), 0);
  EXPECT_STREQ(response.GetDetails("a"), "1");  // an early '=' in a value is part of it
  QvJspResponse empty;
  ASSERT_EQ(empty.BuildResponse("StatusCode=\r\nn=\r\nd=\r\nk=a=&b=2\r\n"), 0);
  EXPECT_STREQ(empty.GetStatus(), "");
  EXPECT_STREQ(empty.GetDetails("a"), "");
  EXPECT_STREQ(empty.GetDetails("b"), "2");

  // Two '=' give two pairs; "flag" takes the second slot without a value.
  QvJspResponse flag;
  ASSERT_EQ(flag.BuildResponse(kHead + "a=1&flag&b=2\r\n"), 0);
  ASSERT_EQ(flag.GetDetailsCount(), 2);
  EXPECT_STREQ(flag.GetDetailsKey(1), "flag");
  EXPECT_EQ(flag.GetDetailsValue(1), nullptr);
  EXPECT_EQ(flag.GetDetails("b"), nullptr);

  QvJspResponse records;
  ASSERT_EQ(records.BuildResponse(kHead + "a=1\nb=2&c=3\r\n"), 0);
  ASSERT_EQ(records.GetDetailsCount(), 3);
  EXPECT_STREQ(records.GetDetails("c"), "3");
}

TEST_F(JspResponseTest, MessagesRunToTheLineFeedOrTheEndOfTheBuffer) {
  ASSERT_EQ(response.BuildResponse(kHead + "messageType=Test&messageSID=5&messageType=DeviceSID&"
                                           "deviceSID=77&messageSID=6\r\n"),
            0);
  int length = 0;
  const char* first = response.GetMsgPtr(0, &length);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Tokens(first, length),
            (std::vector<std::string>{"messageType", "Test", "messageSID", "5", "messageType",
                                      "DeviceSID", "deviceSID", "77", "messageSID", "6", ""}));
  const char* second = response.GetMsgPtr(1, &length);
  EXPECT_EQ(second, response.GetDetailsKey(2));
  EXPECT_EQ(Tokens(second, length).size(), 7u);
  EXPECT_EQ(response.GetMsgPtr(2, &length), nullptr);
  EXPECT_EQ(response.GetMsgPtr(-1, &length), nullptr);

  ASSERT_EQ(response.BuildResponse(kHead + "messageType=Quit&messageSID=9"), 0);
  const char* last = response.GetMsgPtr(0, &length);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(Tokens(last, length),
            (std::vector<std::string>{"messageType", "Quit", "messageSID", "9"}));
}
