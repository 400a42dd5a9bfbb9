#include "broker/record_http_proxy.h"

#include <string_view>

#include "base/log.h"
#include "base/settings.h"
#include "broker/broker_channel.h"
#include "broker/jsp_response.h"
#include "broker/run_jsp.h"
#include "net/proxy_report.h"
#include "net/url_escape.h"

namespace {

constexpr size_t kReturnTextLimit = 32;

std::string Stored(QvSettings* settings, std::string_view key) {
  char value[256];
  int n = settings->ReadSetting(key, "0", value, sizeof value, false);
  return std::string(value, static_cast<size_t>(n));
}

std::string_view Text(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

ProxyReportSettings ReadProxyReportSettings() {
  QvSettings* settings = QvSettings::GetInstance();
  ProxyReportSettings stored;
  stored.device_uid = settings->DeviceUID();
  stored.domain_sid = Stored(settings, "DomainSID");
  stored.vendor_sid = Stored(settings, "VendorSID");
  stored.broker_sid = Stored(settings, "BrokerSID");
  stored.broker_port = settings->BrokerPort();
  stored.broker_secure_port = settings->BrokerSecurePort();
  stored.device_sid = settings->DeviceSID();
  return stored;
}

std::string FormatRecordHttpProxyPath(const ProxyReportSettings& settings, const char* cred_type,
                                      const char* proxy_id, const char* return_text, bool socks) {
  // The device UID begins with the device's address.
  const std::string_view uid = settings.device_uid;
  const std::string_view address = uid.substr(0, uid.find('-'));
  std::string path("/asys/RecordHttpProxy.jsp?");
  path.append("deviceUID=").append(settings.device_uid);
  path.append("&domainSID=").append(settings.domain_sid);
  path.append("&vendorSID=").append(settings.vendor_sid);
  path.append("&brokerSID=").append(settings.broker_sid);
  path.append("&port=").append(settings.broker_port);
  path.append("&securePort=").append(settings.broker_secure_port);
  path.append("&ipAddress=").append(address);
  path.append("&proxyID=").append(EscapeUrlValue(Text(proxy_id)));
  path.append("&proxy_is_socks=").append(socks ? "Yes" : "No");
  if (settings.device_sid != "None") path.append("&deviceSID=").append(settings.device_sid);
  if (return_text != nullptr) {
    path.append("&retcode=").append(EscapeUrlValue(Text(return_text).substr(0, kReturnTextLimit)));
  } else {
    path.append("&retcode=OK");
  }
  path.append("&credType=").append(EscapeUrlValue(Text(cred_type)));
  return path;
}

bool RecordHttpProxy(const char* cred_type, const char* proxy_id, const char* return_text,
                     bool socks) {
  QvSettings* settings = QvSettings::GetInstance();
  const std::string path =
      FormatRecordHttpProxyPath(ReadProxyReportSettings(), cred_type, proxy_id, return_text, socks);
  const std::string host = settings->BrokerIP();
  const BrokerRoute route = RouteBrokerPage(settings->GetSettingInt("BrokerPort", 0, false),
                                            settings->GetSettingInt("BrokerSecurePort", 0, false));
  QvJspResponse response;
  int result = RunJsp(host.c_str(), route.port, path.c_str(), &response, route.secure);
  QvLog* log = QvLog::GetInstance();
  if (result == 0 && response.IsOK()) {
    log->Write("RecordHttpProxy sent", 3);
  } else {
    log->WriteNumber("RecordHttpProxy call failed:", result, 3);
  }
  return result == 0;
}

void InstallProxyReport() { SetProxyReport(&RecordHttpProxy); }
