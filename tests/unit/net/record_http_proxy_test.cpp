#include "net/record_http_proxy.h"

#include <gtest/gtest.h>

#include <string>

#include "net/url_escape.h"
#include "support/net_environment.h"
#include "support/outbound_device.h"
#include "support/scripted_peer.h"
#include "support/work_dir.h"

namespace {

ProxyReportSettings Stored(const std::string& device_sid) {
  return ProxyReportSettings{"10.0.0.5-4f2a-77", "D1", "V2", "B3", "80", "443", device_sid};
}

}  // namespace

TEST(UrlEscape, KeepsLettersDigitsAndDotsOnly) {
  EXPECT_EQ(EscapeUrlValue("Via: 1.1 gate (squid/5.7)\r"),
            "Via%3A%201.1%20gate%20%28squid%2F5.7%29%0D");
  EXPECT_EQ(EscapeUrlValue("a-b_c~d"), "a%2Db%5Fc%7Ed");
  EXPECT_EQ(EscapeUrlValue(std::string("\xff\x00\x7f", 3)), "%FF%00%7F");
  EXPECT_EQ(EscapeUrlValue(""), "");
}

TEST(RecordHttpProxyPath, UnregisteredDeviceWithoutReturnText) {
  EXPECT_EQ(FormatRecordHttpProxyPath(Stored("None"), "diag", "Server: squid/5.7", nullptr, true),
            "/asys/RecordHttpProxy.jsp?deviceUID=10.0.0.5-4f2a-77&domainSID=D1&vendorSID=V2"
            "&brokerSID=B3&port=80&securePort=443&ipAddress=10.0.0.5"
            "&proxyID=Server%3A%20squid%2F5.7&proxy_is_socks=Yes&retcode=OK&credType=diag");
}

TEST(RecordHttpProxyPath, RegisteredDeviceAndAReturnTextCutTo32) {
  const std::string forty(40, 'r');
  EXPECT_EQ(FormatRecordHttpProxyPath(Stored("S9"), "util conreq", "socks", forty.c_str(), false),
            "/asys/RecordHttpProxy.jsp?deviceUID=10.0.0.5-4f2a-77&domainSID=D1&vendorSID=V2"
            "&brokerSID=B3&port=80&securePort=443&ipAddress=10.0.0.5&proxyID=socks"
            "&proxy_is_socks=No&deviceSID=S9&retcode=" +
                std::string(32, 'r') + "&credType=util%20conreq");
  // A device UID without '-' is the address part whole.
  ProxyReportSettings plain = Stored("None");
  plain.device_uid = "0";
  EXPECT_NE(FormatRecordHttpProxyPath(plain, "x", "y", "", false).find("&ipAddress=0&"),
            std::string::npos);
}

// The report goes to BrokerIP:BrokerPort; only the call result counts.
TEST(RecordHttpProxyCall, TrueWhenThePageCallSucceeds) {
  ScopedWorkDir dir;
  UseDirectRoute();
  RecordingPeer broker("HTTP/1.1 200 OK\r\n\r\nStatusCode=500\r\nn=x\r\nd=y\r\ne=\r\n");
  WriteSettings({{"BrokerIP", "127.0.0.1"},
                 {"BrokerPort", std::to_string(broker.port())},
                 {"DeviceSID", "None"},
                 {"DeviceUID", "10.0.0.5-abc"}});
  EXPECT_TRUE(RecordHttpProxy("Yxnet 1", "proxy", "creds needed", false));
  EXPECT_TRUE(Logged("RecordHttpProxy call failed:0"));
  ASSERT_EQ(broker.Requests().size(), 1u);
  EXPECT_TRUE(
      broker.Requests()[0].starts_with("GET /asys/RecordHttpProxy.jsp?deviceUID=10.0.0.5-abc&"));

  WriteSettings({{"BrokerIP", "127.0.0.1"}, {"BrokerPort", "1"}});
  EXPECT_FALSE(RecordHttpProxy("Yxnet 1", "proxy", nullptr, false));
  EXPECT_TRUE(Logged("RecordHttpProxy call failed:-1"));
}
