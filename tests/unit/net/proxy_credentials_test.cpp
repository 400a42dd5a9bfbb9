#include "net/proxy_credentials.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/guarded_text.h"
#include "common/log.h"
#include "net/header_line.h"
#include "support/work_dir.h"

namespace {

std::string Encoded(std::string_view input) {
  char out[64];
  size_t length = 0;
  EXPECT_EQ(Encode64(input.data(), input.size(), out, sizeof out, &length), 0);
  EXPECT_EQ(std::strlen(out), length);
  return out;
}

class ProxyCredentialsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteText("vane.ini", "[Quovane]\nLogLevel=3\n");
    QvLog::ReleaseInstance();
  }
  void TearDown() override { QvLog::ReleaseInstance(); }

  bool LoggedShortBuffer() {
    return ReadText("QvDebug.log").find("QvNetUtil::Encode64 fails, short buffer for creds.\n") !=
           std::string::npos;
  }

  ScopedWorkDir dir;
  QvProxyVars vars{};
};

}  // namespace

TEST(Encode64, KnownTextsAndPadding) {
  EXPECT_EQ(Encoded(""), "");
  EXPECT_EQ(Encoded("f"), "Zg==");
  EXPECT_EQ(Encoded("fo"), "Zm8=");
  EXPECT_EQ(Encoded("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Encoded(std::string("\x00\xff\xfe\x80", 4)), "AP/+gA==");
}

TEST_F(ProxyCredentialsTest, Encode64BufferSizes) {
  const std::string creds(93, 'u');
  char out[128];
  std::memset(out, '#', sizeof out);
  size_t length = 0;
  ASSERT_EQ(Encode64(creds.data(), creds.size(), out, sizeof out, &length), 0);
  EXPECT_EQ(length, 124u);
  EXPECT_EQ(std::strlen(out), 124u);

  // 94 to 96 characters need all 128 bytes: encoded, but no room to end it.
  for (size_t n : {94u, 95u, 96u}) {
    std::memset(out, '#', sizeof out);
    ASSERT_EQ(Encode64(creds.data(), n, out, sizeof out, &length), 0) << n;
    EXPECT_EQ(length, 128u);
    EXPECT_NE(out[127], '#');
  }

  // Too short: nothing written, the length still reported, the failure logged.
  EXPECT_FALSE(LoggedShortBuffer());
  std::memset(out, '#', sizeof out);
  length = 0;
  EXPECT_EQ(Encode64("abcd", 4, out, 7, &length), -2);
  EXPECT_EQ(length, 8u);
  EXPECT_EQ(out[0], '#');
  EXPECT_TRUE(LoggedShortBuffer());
}

// Longer than one pass of the encoder.
TEST(Encode64, LongInputRoundTrips) {
  std::vector<unsigned char> input(10001);
  for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<unsigned char>(i * 7 + i / 251);
  std::string out(4 * ((input.size() + 2) / 3) + 1, '\0');
  ASSERT_EQ(Encode64(input.data(), input.size(), out.data(), out.size()), 0);
  std::vector<unsigned char> decoded(out.size());
  EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(out.data()),
                  static_cast<int>(out.size() - 1));
  decoded.resize(input.size());
  EXPECT_EQ(decoded, input);
}

TEST_F(ProxyCredentialsTest, StoresPlainAndEncodedUpToNinetyThreeCharacters) {
  SubmitProxyCredentials(vars, "Aladdin:open sesame");
  EXPECT_EQ(ReadGuarded(vars.szCreds), "Aladdin:open sesame");
  EXPECT_EQ(ReadGuarded(vars.szCreds64), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");

  SubmitProxyCredentials(vars, "");  // nothing typed: the pair stays
  EXPECT_EQ(ReadGuarded(vars.szCreds), "Aladdin:open sesame");

  const std::string longest = "user:" + std::string(88, 'p');
  SubmitProxyCredentials(vars, longest);
  EXPECT_EQ(ReadGuarded(vars.szCreds), longest);
  EXPECT_EQ(ReadGuarded(vars.szCreds64).size(), 124u);
  EXPECT_FALSE(LoggedShortBuffer());
}

TEST_F(ProxyCredentialsTest, RefusesCredentialsWhoseEncodingDoesNotFit) {
  SubmitProxyCredentials(vars, "old:pair");
  for (size_t n : {94u, 96u, 127u, 300u}) {
    SubmitProxyCredentials(vars, std::string(n, 'x'));
    EXPECT_STREQ(vars.szCreds, "") << n;
    EXPECT_STREQ(vars.szCreds64, "") << n;
  }
  EXPECT_TRUE(LoggedShortBuffer());
}

TEST(ExtractHeaderLine, FindsNameAndColonAnywhere) {
  const std::string reply =
      "HTTP/1.1 407 Proxy Authentication Required\r\nServer: squid/5.7\r\n"
      "X-Via: inner\nVia: 1.1 gate\r\n\r\n";
  EXPECT_EQ(ExtractHeaderLine(reply, "Server"), "Server: squid/5.7\r");
  // Not only at a line start: "Via:" first occurs inside "X-Via:".
  EXPECT_EQ(ExtractHeaderLine(reply, "Via"), "Via: inner");
  EXPECT_EQ(ExtractHeaderLine(reply, "server"), std::nullopt);
  EXPECT_EQ(ExtractHeaderLine(reply, "Proxy Authentication"), std::nullopt);
  EXPECT_EQ(ExtractHeaderLine("Server: last", "Server"), "Server: last");
  EXPECT_EQ(ExtractHeaderLine("Server", "Server"), std::nullopt);
}
