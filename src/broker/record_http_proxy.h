// RecordHttpProxy: tells the broker (page /asys/RecordHttpProxy.jsp, plain,
// at the stored BrokerIP and BrokerPort) what the device learnt about its
// proxy. Called by module dispatch, device messages and the diagnostic
// module, and through the installed proxy report by the outbound request,
// the proxy tunnel and the SOCKS negotiation.
#pragma once

#include <string>

// The settings the report carries, as stored.
struct ProxyReportSettings {
  std::string device_uid;
  std::string domain_sid;
  std::string vendor_sid;
  std::string broker_sid;
  std::string broker_port;
  std::string broker_secure_port;
  std::string device_sid;  // "None" while unregistered: then not sent
};

ProxyReportSettings ReadProxyReportSettings();

// The page path with its query. return_text null sends "retcode=OK";
// otherwise its first 32 characters go, escaped.
std::string FormatRecordHttpProxyPath(const ProxyReportSettings& settings, const char* cred_type,
                                      const char* proxy_id, const char* return_text, bool socks);

// True when the page call returned 0, whatever the broker's status.
bool RecordHttpProxy(const char* cred_type, const char* proxy_id, const char* return_text,
                     bool socks);

// Makes RecordHttpProxy the outbound requests' proxy report. Part of
// setting up a runtime that talks to the broker (the program, a module).
void InstallProxyReport();
