#include "session/jsp_response.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/work_dir.h"
#include "unit/common/test_module.h"

namespace {

// The tokens of a message: zero-terminated texts within its length.
std::vector<std::string> Tokens(const char* message, int length) {
  std::vector<std::string> tokens;
  std::string run(message, static_cast<size_t>(length));
  size_t start = 0;
  while (start <= run.size()) {
    size_t end = run.find('\0', start);
    if (end == std::string::npos) end = run.size();
    tokens.push_back(run.substr(start, end - start));
    start = end + 1;
  }
  return tokens;
}

class JspResponseTest : public ::testing::Test {
 protected:
  void TearDown() override { QvLog::ReleaseInstance(); }
  ScopedWorkDir dir;
  QvJspResponse response;
};

}  // namespace

TEST_F(JspResponseTest, SplitsTheFourLinesAndTheDetails) {
  ASSERT_EQ(response.BuildResponse("StatusCode=200\r\nk2=x\r\nk3=y\r\nk4=brokerKey=K1&ip=10.0.0.7\r\n"), 0);
  EXPECT_STREQ(response.GetStatus(), "200");
  EXPECT_TRUE(response.IsOK());
  ASSERT_EQ(response.GetDetailsCount(), 2);
  EXPECT_STREQ(response.GetDetailsKey(0), "brokerKey");
  EXPECT_STREQ(response.GetDetailsValue(0), "K1");
  EXPECT_STREQ(response.GetDetails("ip"), "10.0.0.7");
  EXPECT_EQ(response.GetDetails("IP"), nullptr);
  EXPECT_EQ(response.GetDetailsKey(2), nullptr);
  EXPECT_EQ(response.GetDetailsValue(-1), nullptr);
}

TEST_F(JspResponseTest, RefusesWhatIsNoBrokerAnswer) {
  UseSettings(3);
  EXPECT_EQ(response.BuildResponse("<html><body>Proxy error</body></html>"), -1);
  EXPECT_EQ(response.BuildResponse(""), -1);
  EXPECT_EQ(response.GetStatus(), nullptr);
  EXPECT_FALSE(response.IsOK());
  EXPECT_EQ(response.GetDetails("x"), nullptr);
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{
                               "QvJspResponse::BuildResponse",
                               "Non QV response. Error",
                               "QvJspResponse::BuildResponse",
                               "GetDetails: : x",
                               "QvJspResponse::ParseDetails",
                           }));
}

TEST_F(JspResponseTest, ShortAnswersLeaveTheMissingFieldsNull) {
  ASSERT_EQ(response.BuildResponse("StatusCode=200 \r\nn=a\r\n"), 0);
  EXPECT_FALSE(response.IsOK());
  QvJspResponse bare;
  ASSERT_EQ(bare.BuildResponse("StatusCode"), 0);
  EXPECT_EQ(bare.GetStatus(), nullptr);
  EXPECT_FALSE(bare.IsOK());
  // No carriage return: the status runs to the end of the text.
  QvJspResponse one;
  ASSERT_EQ(one.BuildResponse("StatusCode=456"), 0);
  EXPECT_STREQ(one.GetStatus(), "456");
  EXPECT_EQ(one.GetDetails("a"), nullptr);
  EXPECT_EQ(one.GetMsgPtr(0, nullptr), nullptr);
  QvJspResponse three;
  ASSERT_EQ(three.BuildResponse("StatusCode=457\r\nname=N\r\ndesc=Bad key="), 0);
  EXPECT_STREQ(three.GetStatus(), "457");
  EXPECT_EQ(three.GetDetailsCount(), 0);
  EXPECT_EQ(three.GetDetailsKey(0), nullptr);
}

TEST_F(JspResponseTest, AnEqualsSignEarlyInAValueIsPartOfIt) {
  ASSERT_EQ(response.BuildResponse("StatusCode=200\r\nn==x\r\nd=y\r\nk=a=1\r\n"), 0);
  EXPECT_STREQ(response.GetDetails("a"), "1");
  QvJspResponse empty_values;
  ASSERT_EQ(empty_values.BuildResponse("StatusCode=\r\nn=\r\nd=\r\nk=a=&b=2\r\n"), 0);
  EXPECT_STREQ(empty_values.GetStatus(), "");
  EXPECT_STREQ(empty_values.GetDetails("a"), "");
  EXPECT_STREQ(empty_values.GetDetails("b"), "2");
}

TEST_F(JspResponseTest, ItemsWithoutEqualsAndRecordsByLineFeed) {
  // Two '=' give two pairs; the item "flag" takes the second slot without a value.
  ASSERT_EQ(response.BuildResponse("StatusCode=200\r\nn=x\r\nd=y\r\nk=a=1&flag&b=2\r\n"), 0);
  ASSERT_EQ(response.GetDetailsCount(), 2);
  EXPECT_STREQ(response.GetDetailsKey(1), "flag");
  EXPECT_EQ(response.GetDetailsValue(1), nullptr);
  EXPECT_EQ(response.GetDetails("b"), nullptr);

  QvJspResponse records;
  ASSERT_EQ(records.BuildResponse("StatusCode=200\r\nn=x\r\nd=y\r\nk=a=1\nb=2&c=3\r\n"), 0);
  ASSERT_EQ(records.GetDetailsCount(), 3);
  EXPECT_STREQ(records.GetDetails("b"), "2");
  EXPECT_STREQ(records.GetDetails("c"), "3");
}

TEST_F(JspResponseTest, MessagesRunToTheEndOfTheDetailsLine) {
  UseSettings(3);
  const std::string body =
      "StatusCode=200\r\nname=hb\r\ndesc=ok\r\ndetails="
      "messageType=Test&messageSID=5&messageType=DeviceSID&deviceSID=77&messageSID=6\r\n";
  ASSERT_EQ(response.BuildResponse(body), 0);
  EXPECT_EQ(response.GetDetailsCount(), 5);

  int length = 0;
  const char* first = response.GetMsgPtr(0, &length);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Tokens(first, length),
            (std::vector<std::string>{"messageType", "Test", "messageSID", "5", "messageType",
                                      "DeviceSID", "deviceSID", "77", "messageSID", "6", ""}));
  const char* second = response.GetMsgPtr(1, &length);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second, response.GetDetailsKey(2));
  EXPECT_EQ(Tokens(second, length),
            (std::vector<std::string>{"messageType", "DeviceSID", "deviceSID", "77", "messageSID", "6", ""}));
  EXPECT_EQ(response.GetMsgPtr(2, &length), nullptr);
  EXPECT_EQ(response.GetMsgPtr(-1, &length), nullptr);

  response.Dump();
  auto log = LogMessages();
  auto has = [&log](const char* line) { return std::find(log.begin(), log.end(), line) != log.end(); };
  EXPECT_TRUE(has("MsgPtr: : messageType"));
  EXPECT_TRUE(has("GetMsgPtr: Message #2"));
  EXPECT_TRUE(has("GetMsgPtr: None"));
  EXPECT_TRUE(has("m_nDetails: 5"));
  EXPECT_TRUE(has("m_szDetailsKeys[i]: : messageType"));
  EXPECT_TRUE(has("m_szDetailsValues[i]: : 6"));
}

TEST_F(JspResponseTest, MessageWithoutLineFeedRunsToTheEndOfTheBuffer) {
  ASSERT_EQ(response.BuildResponse("StatusCode=200\r\nn=x\r\nd=y\r\nk=messageType=Quit&messageSID=9"), 0);
  int length = 0;
  const char* message = response.GetMsgPtr(0, &length);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(length, static_cast<int>(std::string("messageType=Quit&messageSID=9").size()));
  EXPECT_EQ(Tokens(message, length), (std::vector<std::string>{"messageType", "Quit", "messageSID", "9"}));
}

TEST_F(JspResponseTest, TruncatedAnswersStayInsideTheCopy) {
  const std::string full =
      "StatusCode=200\r\nname=hb\r\ndesc=ok\r\ndetails=messageType=ConfigSetting&k1=LogLevel&v1=4"
      "&messageSID=12\nmessageType=Test&messageSID=13\r\n";
  for (size_t cut = 1; cut <= full.size(); ++cut) {
    QvJspResponse part;
    std::string body = full.substr(0, cut);
    int built = part.BuildResponse(body);
    EXPECT_EQ(built, cut >= 10 ? 0 : -1) << cut;
    int length = 0;
    for (int n = 0; n < 3; ++n) {
      const char* message = part.GetMsgPtr(n, &length);
      if (message == nullptr) break;
      ASSERT_GE(length, 0);
      ASSERT_LE(static_cast<size_t>(length), body.size());
      EXPECT_EQ(Tokens(message, length).front(), "messageType");
    }
    for (int i = 0; i < part.GetDetailsCount(); ++i) {
      if (const char* key = part.GetDetailsKey(i)) {
        EXPECT_LE(std::strlen(key), body.size());
      }
      if (const char* value = part.GetDetailsValue(i)) {
        EXPECT_LE(std::strlen(value), body.size());
      }
    }
    part.Dump();
  }
}

TEST_F(JspResponseTest, ASecondAnswerReplacesTheFirst) {
  ASSERT_EQ(response.BuildResponse("StatusCode=200\r\nn=x\r\nd=y\r\nk=a=1\r\n"), 0);
  EXPECT_STREQ(response.GetDetails("a"), "1");
  ASSERT_EQ(response.BuildResponse("StatusCode=404\r\nn=x\r\nd=y\r\nk=b=2\r\n"), 0);
  EXPECT_STREQ(response.GetStatus(), "404");
  EXPECT_EQ(response.GetDetails("a"), nullptr);
  EXPECT_STREQ(response.GetDetails("b"), "2");
}
