// The tests: the public site and the broker over HTTP and HTTPS, the proxy
// information, the broker's relay proxies, and the connectivity test that
// runs them all and gives the verdict.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/guarded_text.h"
#include "base/log.h"
#include "broker/broker_channel.h"
#include "broker/jsp_response.h"
#include "broker/record_http_proxy.h"
#include "broker/run_jsp.h"
#include "device/broker_endpoint.h"
#include "device/device.h"
#include "device/proxy_credentials.h"
#include "diagnostic_module.h"

namespace {

constexpr char kOk[] = "200";
constexpr char kSkipped[] = "skipped";
// A broker may list many relays; each costs up to two time-outs.
constexpr int kMaxRelays = 16;
// The protocol probe's own bytes; the request adds five zero bytes.
constexpr char kProbe[7] = {0x0C, 0x00, 0x00, 0x02, 0x00, 0x02, 0x00};

std::string Or(const char* text, const char* fallback) {
  return text != nullptr ? text : fallback;
}

// "host" or "host:port" (port 80 when none is given).
void SplitServer(const std::string& server, std::string* host, int* port) {
  *host = server;
  *port = 80;
  size_t colon = server.rfind(':');
  if (colon == std::string::npos || colon + 1 == server.size() || server.size() - colon > 6) return;
  int value = 0;
  for (size_t i = colon + 1; i < server.size(); ++i) {
    if (server[i] < '0' || server[i] > '9') return;
    value = value * 10 + (server[i] - '0');
  }
  if (value < 1 || value > 65535) return;
  *host = server.substr(0, colon);
  *port = value;
}

}  // namespace

std::string QvDiagnosticModule::GetRetFromHdr() {
  const char* line = m_netUtil.GetLastErrorLine();
  return line != nullptr ? StatusCodeOf(line) : std::string();
}

void QvDiagnosticModule::ForgetErrorLine() {
  // Each test's code comes from its own answer, never an earlier test's.
  m_netUtil.SaveErrorLine("");
}

void QvDiagnosticModule::Report(bool failed, const std::string& result) {
  if (m_nNotifyLevel == 1 || (m_nNotifyLevel == 2 && failed)) {
    ReportDiagnostics(result.c_str(), nullptr, nullptr, nullptr);
  }
}

std::string QvDiagnosticModule::BrokerHost() {
  QvBrokerEndpoint* endpoint = m_pNet->GetEndpoint();
  return endpoint != nullptr ? endpoint->GetBrokerIP() : std::string();
}

std::string QvDiagnosticModule::TestHttp(const std::string& server, bool secure) {
  std::string host;
  int port = 80;
  SplitServer(server, &host, &port);
  const uint32_t start = BeginStep();
  std::string stream;
  const int rc = m_netUtil.ConnectRequest(host.c_str(), port, "/.", &stream, nullptr, secure,
                                          false, false, 0, false);
  m_szTestLine = Or(m_netUtil.GetLastErrorLine(), "");
  const Evidence evidence = Gather(host + ":" + std::to_string(port), secure, start);
  QvJspResponse scratch;
  (void)scratch.BuildResponse(stream.c_str());
  const std::string code = GetRetFromHdr();
  const std::string failure = code.empty() ? "-1" : code;
  AddStep(secure ? "https" : "http", evidence, rc == 0, rc == 0 ? kOk : failure);
  Report(rc != 0, rc == 0 ? "OK" : failure);
  return rc == 0 ? kOk : failure;
}

std::string QvDiagnosticModule::TestHttpBroker(bool secure) {
  // Without its address the broker would be this very machine's port 0.
  if (!BrokerMissing().empty()) {
    AddSkippedStep(secure ? "brkhttps" : "brkhttp");
    return kSkipped;
  }
  QvBrokerEndpoint* endpoint = m_pNet->GetEndpoint();
  const int port = endpoint == nullptr ? 0
                   : secure           ? endpoint->GetSecurePort()
                                      : endpoint->GetCurrentPort();
  const uint32_t start = BeginStep();
  QvJspResponse response;
  const int rc = RunJsp(BrokerHost().c_str(), port, "/asys/CheckConnection.jsp?", &response, secure);
  m_szTestLine = Or(m_netUtil.GetLastErrorLine(), "");
  Evidence evidence = Gather(BrokerHost() + ":" + std::to_string(port), secure, start);
  evidence.unreadable = rc == kUnreadableAnswer;
  std::string code = GetRetFromHdr();
  if (code.empty() && rc == 0) code = Or(response.GetStatus(), "");
  const std::string failure = code.empty() ? "-1" : code;
  const bool ok = rc == 0 && response.IsOK();
  // Any broker answer counts: the broker can be reached.
  AddStep(secure ? "brkhttps" : "brkhttp", evidence, rc == 0, rc == 0 ? kOk : failure,
          rc == 0 && !ok ? "The broker answered, with status " + code + "." : "");
  Report(!ok, ok ? "OK" : failure);
  return rc == 0 ? kOk : failure;
}

bool QvDiagnosticModule::GetProxySettings(bool in_conntest) {
  if (!in_conntest) {
    PointOutput("proxyinfo.htx");
    m_bOutputReady = true;
    m_table.Insert("qvstatus", "200");
  }
  QvProxyVars& vars = m_pNet->GetProxyVars();
  m_table.Insert("proxy_source", ProxySource().c_str());
  if (!vars.bProxyEnabled.load()) {
    m_table.Insert("proxy_server", "None");
    for (const char* tag : {"proxy_http_ip", "proxy_http_port", "proxy_https_ip",
                            "proxy_https_port", "proxy_is_socks", "proxy_server_model"}) {
      m_table.Insert(tag, "n/a");
    }
    if (m_nNotifyLevel == 1) ReportDiagnostics("No proxy", nullptr, nullptr, nullptr);
    return !in_conntest;
  }
  const bool socks = vars.bSocks.load();
  std::string model = ReadGuarded(vars.szProxyServerName);
  const std::string values[7][2] = {
      {"proxy_server", ReadGuarded(vars.szProxySetting)},
      {"proxy_http_ip", ReadGuarded(vars.szHttpProxy)},
      {"proxy_http_port", std::to_string(vars.nHttpPort.load())},
      {"proxy_https_ip", ReadGuarded(vars.szHttpsProxy)},
      {"proxy_https_port", std::to_string(vars.nHttpsPort.load())},
      {"proxy_is_socks", socks ? "Yes" : "No"},
      {"proxy_server_model", model.empty() ? "n/a" : model},
  };
  for (const auto& [tag, value] : values) m_table.Insert(tag.c_str(), value.c_str());
  if (m_nNotifyLevel == 1) {
    const char* operations[7] = {"proxyserver",      "proxy_http_ip",  "proxy_http_port",
                                 "proxy_https_ip",   "proxy_https_port", "proxy_is_socks",
                                 "proxy_server_model"};
    for (int i = 0; i < 7; ++i) {
      ReportDiagnostics(values[i][1].c_str(), operations[i], nullptr, nullptr);
    }
  }
  RecordHttpProxy("diag", model.c_str(), nullptr, socks);
  return true;
}

bool QvDiagnosticModule::TestYxProxy(bool in_conntest) {
  if (!BrokerMissing().empty()) {
    AddSkippedStep("relaylist");
    PrepareOutput("relaylist", kSkipped, m_bCallerTemplate);
    NoteRow(StepNote(m_findings.steps.back()), true);
    return false;
  }
  QvDomain* domain = GetDomain();
  const std::string uri = "/asys/ProxyList.jsp?domainSID=" + Or(domain->m_szDomainSID, "") +
                          "&vendorSID=" + Or(domain->m_szVendorSID, "") +
                          "&brokerSID=" + Or(domain->m_szBrokerSID, "") + "&appSID=3";
  const BrokerRoute route = RouteBrokerPage(m_pNet->GetEndpoint());
  const uint32_t start = BeginStep();
  QvJspResponse response;
  const int rc = RunJsp(BrokerHost().c_str(), route.port, uri.c_str(), &response, route.secure);
  Evidence evidence = Gather(BrokerHost() + ":" + std::to_string(route.port), route.secure, start);
  evidence.unreadable = rc == kUnreadableAnswer;
  if (rc == 0 && !response.IsOK()) evidence.broker_status = Or(response.GetStatus(), "");
  if (rc != 0 || !response.IsOK()) {
    AddStep("relaylist", evidence, false, std::to_string(rc));
    PrepareOutput("ConnectionError", std::to_string(rc).c_str(), m_bCallerTemplate);
    NoteRow(StepNote(m_findings.steps.back()), false);
    return false;
  }
  const char* count_text = GetJspDetails(&response, "numyxproxies");
  const int count = count_text != nullptr ? LeadingNumber(count_text) : 0;
  AddStep("relaylist", evidence, true, kOk,
          count <= 0 ? "The broker listed no relay proxies."
                     : "The broker listed " + std::to_string(count) + " relay " +
                           (count == 1 ? "proxy." : "proxies."));
  if (count <= 0) return false;
  m_table.Insert("NUM_PROXIES", count_text);
  m_proxies = ParseProxyList(Or(GetJspDetails(&response, "yxproxies"), ""),
                             count < kMaxRelays ? count : kMaxRelays);
  PrepareOutput(in_conntest ? "Number of Yxproxies tested" : "numyxproxies", count_text,
                in_conntest || m_bCallerTemplate);
  NoteRow("Each relay proxy gets an HTTP probe and a relay protocol probe.", true);

  std::string success;
  bool any_failed = false;
  for (RelayProxy& proxy : m_proxies) {
    const int port = std::atoi(proxy.port);
    const std::string name = std::string(proxy.host) + ":" + proxy.port;
    RelayFinding finding;
    finding.address = name;
    uint32_t start_probe = BeginStep();
    proxy.http_ok = m_netUtil.ConnectRequest(proxy.host, port, "/testproxy", nullptr, nullptr,
                                             false, false, false, 1, false) >= 0;
    if (!proxy.http_ok) finding.failure = ExplainFailure(GatherDirect(name, start_probe));
    start_probe = BeginStep();
    proxy.protocol_ok = m_netUtil.ConnectRequest(proxy.host, port, kProbe, nullptr, nullptr, false,
                                                 false, false, 2, false) >= 0;
    if (!proxy.protocol_ok && proxy.http_ok) {
      finding.failure = ExplainFailure(GatherDirect(name, start_probe));
    }
    finding.http_ok = proxy.http_ok;
    finding.protocol_ok = proxy.protocol_ok;
    any_failed = any_failed || !proxy.http_ok || !proxy.protocol_ok;
    const char* verdict = RelayVerdict(proxy.http_ok, proxy.protocol_ok);
    PrepareOutput(name.c_str(), verdict, false);
    NoteRow(RelayNote(finding), proxy.http_ok && proxy.protocol_ok);
    m_findings.relays.push_back(std::move(finding));
    AppendProxySuccess(success, proxy);
    Report(any_failed, name + ": " + verdict);
  }
  m_table.Insert("PROXY_SUCCESS", success.c_str());
  return true;
}

void QvDiagnosticModule::ConnectivityTest() {
  QvLog* log = QvLog::GetInstance();
  QvProxyVars& vars = m_pNet->GetProxyVars();
  m_szOperation = "proxyinfo";
  GetProxySettings(true);

  m_bCredsSubmitted = false;
  const char* creds = GetCgiValue("creds");
  if (vars.bCredsNeeded.load() && creds != nullptr) {
    log->Write("======!!!Credentials received for proxy!!!======", 3);
    vars.bCredsNeeded.store(false);
    SubmitProxyCredentials(vars, creds);
    m_bCredsSubmitted = true;
  }
  const std::string host = Or(GetCgiValue("server"), kDefaultSite);

  m_szOperation = "http";
  const bool http_ok = TestHttp(host, false) == kOk;
  m_table.Insert("http_success", http_ok ? "Successful" : m_szTestLine.c_str());
  m_table.Insert("SERVER", host.c_str());
  m_bOutputReady = true;
  m_table.Insert("proxy_creds_status", CredentialsStatus());

  if (!BrokerMissing().empty()) {
    // Nothing at the broker to test: no verdict, and the page says why in
    // the start page's words.
    for (const char* name : {"brkhttp", "brkhttps", "relaylist"}) AddSkippedStep(name);
    m_table.Insert("broker_success", "Skipped");
    m_table.Insert("broker_secure_success", "Skipped");
    m_table.Insert("NUM_PROXIES", "none asked for (the broker is not configured)");
    m_table.Insert("diagnosis",
                   ("No verdict, the broker tests were skipped: " + HtmlEscape(BrokerMissing()) + ".")
                       .c_str());
    FinishConnectivityPage();
    return;
  }

  m_szOperation = "brkhttp";
  const bool broker_ok = TestHttpBroker(false) == kOk;
  m_table.Insert("broker_success", broker_ok ? "Successful" : "UnSuccessful");

  m_szOperation = "brkhttps";
  const bool secure_ok = TestHttpBroker(true) == kOk;
  m_table.Insert("broker_secure_success", secure_ok ? "Successful" : "UnSuccessful");
  m_table.Insert("SERVER", host.c_str());

  m_szOperation = "yxproxy";
  TestYxProxy(true);

  const int index = (http_ok ? 1 : 0) + (broker_ok ? 2 : 0) + (secure_ok ? 4 : 0);
  m_table.Insert("diagnosis", Diagnosis(index, HtmlEscape(host)).c_str());
  m_table.Insert("verdict", std::to_string(index).c_str());
  m_findings.verdict = index;
  m_findings.verdict_text = VerdictText(index, host);
  FinishConnectivityPage();
}

void QvDiagnosticModule::FinishConnectivityPage() {
  AddPageFindings();
  m_output->m_pTable = &m_table;
  m_output->setSocket(m_pRequest->hSocket);
  m_output->setSendHeaders(true);
  if (!m_bTemplateGiven) UseTemplate("httpdiagnostic.htx");
}
