// What the tests leave behind for a person and a program: each step's
// evidence gathered right after its request, the words and tags of the
// connectivity test's page, and the JSON answer.
#include <ctime>
#include <string>
#include <utility>

#include "base/guarded_text.h"
#include "base/revision.h"
#include "device/broker_standing.h"
#include "device/device.h"
#include "device/device_identity.h"
#include "diagnostic_module.h"
#include "net/link_report.h"
#include "net/outbound_state.h"
#include "platform/clock.h"

namespace {

const char* CredentialsKey(const std::string& status) {
  if (status == "required but not submitted") return "required";
  if (status == "submitted but refused") return "refused";
  if (status == "submitted & OK") return "accepted";
  return "not required";
}

const char* CredentialsNote(const ProxyFacts& proxy) {
  if (proxy.credentials == "required") {
    return "The proxy asks for a user name and password: enter them above and run the test again.";
  }
  if (proxy.credentials == "refused") {
    return "The proxy did not accept the user name and password: enter them again above.";
  }
  if (proxy.credentials == "accepted") return "The proxy accepted the user name and password.";
  return proxy.enabled ? "The proxy did not ask for a user name and password."
                       : "No proxy is in use.";
}

}  // namespace

uint32_t QvDiagnosticModule::BeginStep() {
  ForgetErrorLine();
  NoteLinkReached();
  ClearTlsOutcome();
  return platform::TickCount();
}

void QvDiagnosticModule::NoteBrokerStanding() {
  // The host's own judgement, as its start page shows it; a call without a
  // host device (a test's) judges the settings alone.
  const QvDevice* host = m_pRequest != nullptr ? m_pRequest->pDevice : nullptr;
  const BrokerStanding standing =
      host != nullptr ? DescribeBrokerStanding(*host)
                      : JudgeBrokerStanding({}, false, MissingBrokerKeys(), SettingsFilePath(),
                                            std::time(nullptr));
  m_findings.broker_state = standing.Word();
  m_findings.broker_text = standing.Text();
  m_szBrokerMissing = standing.kind == BrokerStanding::kNotConfigured ? standing.Text() : "";
}

void QvDiagnosticModule::AddSkippedStep(const char* name) {
  Step step;
  step.name = name;
  // The whole of it is said once, in the verdict's place and the JSON's broker.
  step.skipped = "the broker is not configured";
  m_findings.steps.push_back(std::move(step));
  m_szTestLine.clear();  // no request, so no error line of its own
}

Evidence QvDiagnosticModule::GatherDirect(const std::string& target, uint32_t start) const {
  Evidence evidence;
  evidence.target = target;
  evidence.link = LastLinkFailureDetail();
  evidence.tls_failed = LastTlsState() == 2;
  evidence.tls_reason = LastTlsFailure();
  const char* line = m_netUtil.GetLastErrorLine();
  evidence.error_line = line != nullptr ? line : "";
  evidence.elapsed_ms = platform::TickCount() - start;
  evidence.timeout_ms = OutboundTimeout();
  return evidence;
}

Evidence QvDiagnosticModule::Gather(const std::string& target, bool secure, uint32_t start) const {
  Evidence evidence = GatherDirect(target, start);
  // The route the request took, as the outbound request chose it.
  QvProxyVars& vars = m_pNet->GetProxyVars();
  if (!vars.bProxyEnabled.load()) return evidence;
  const std::string host = ReadGuarded(secure ? vars.szHttpsProxy : vars.szHttpProxy);
  if (host.empty()) return evidence;
  const int port = secure ? vars.nHttpsPort.load() : vars.nHttpPort.load();
  evidence.proxy = host + ":" + std::to_string(port);
  evidence.socks = vars.bSocks.load();
  evidence.credentials_sent = !ReadGuarded(vars.szCreds64).empty();
  return evidence;
}

void QvDiagnosticModule::AddStep(const char* name, const Evidence& evidence, bool ok,
                                 const std::string& code, std::string seen) {
  Step step;
  step.name = name;
  step.target = evidence.target;
  step.ok = ok;
  step.code = code;
  if (!ok) step.failure = ExplainFailure(evidence);
  step.seen = std::move(seen);
  step.milliseconds = evidence.elapsed_ms;
  m_findings.steps.push_back(std::move(step));
}

void QvDiagnosticModule::NoteRow(const std::string& note, bool ok) {
  const std::string n = std::to_string(m_nOutputCounter - 1);
  m_table.Insert(("note" + n).c_str(), note.c_str());
  m_table.Insert(("state" + n).c_str(), ok ? "ok" : "bad");
}

const char* QvDiagnosticModule::CredentialsStatus() const {
  QvProxyVars& vars = m_pNet->GetProxyVars();
  // Credentials given now and asked for again were refused: saying they
  // were never given would send the user round in circles.
  if (vars.bCredsNeeded.load()) {
    return m_bCredsSubmitted ? "submitted but refused" : "required but not submitted";
  }
  return !ReadGuarded(vars.szCreds64).empty() ? "submitted & OK" : "not required";
}

// The one place that says where the proxy setting came from, as the
// device found it.
std::string QvDiagnosticModule::ProxySource() const {
  if (!m_pNet->GetProxyVars().bProxyEnabled.load()) return "none";
  return m_pNet->Status().ProxyOrigin();
}

ProxyFacts QvDiagnosticModule::Proxy() const {
  QvProxyVars& vars = m_pNet->GetProxyVars();
  ProxyFacts proxy;
  proxy.source = ProxySource();
  proxy.enabled = vars.bProxyEnabled.load();
  proxy.socks = vars.bSocks.load();
  proxy.host = ReadGuarded(vars.szHttpProxy);
  proxy.port = vars.nHttpPort.load();
  proxy.secure_host = ReadGuarded(vars.szHttpsProxy);
  proxy.secure_port = vars.nHttpsPort.load();
  proxy.credentials = CredentialsKey(CredentialsStatus());
  proxy.server = ReadGuarded(vars.szProxyServerName);
  return proxy;
}

void QvDiagnosticModule::AddPageFindings() {
  m_findings.proxy = Proxy();
  // The row shows the status as the test found it after the site's test.
  m_findings.proxy.credentials = CredentialsKey(m_table.GetValue("proxy_creds_status"));
  const bool passed = AllPassed(m_findings);
  m_table.Insert("headline", Headline(m_findings).c_str());
  m_table.Insert("headline_class", passed ? "ok" : "bad");
  for (const Step& step : m_findings.steps) {
    const std::string& name = step.name;
    m_table.Insert((name + "_note").c_str(), StepNote(step).c_str());
    if (!step.skipped.empty()) {
      m_table.Insert((name + "_target").c_str(), "not set");
      m_table.Insert((name + "_class").c_str(), "skipped");
      m_table.Insert((name + "_ms").c_str(), "");
      m_table.Insert((name + "_result").c_str(), "Skipped");
      continue;
    }
    m_table.Insert((name + "_target").c_str(), step.target.c_str());
    m_table.Insert((name + "_class").c_str(), step.ok ? "ok" : "bad");
    m_table.Insert((name + "_ms").c_str(), std::to_string(step.milliseconds).c_str());
    m_table.Insert((name + "_result").c_str(), step.ok ? "Successful" : "UnSuccessful");
  }
  const bool asked = m_findings.proxy.credentials == "required" ||
                     m_findings.proxy.credentials == "refused";
  m_table.Insert("creds_note", CredentialsNote(m_findings.proxy));
  m_table.Insert("creds_class", asked ? "bad" : "ok");
  m_table.Insert("creds_form", asked ? "shown" : "hidden");
  m_table.Insert("rerun", ("/QvDiagnosticModule.dll?" + QueryWithoutCredentials(m_szQuery)).c_str());
}

char* QvDiagnosticModule::JsonAnswer() {
  if (m_findings.verdict < 0) m_findings.proxy = Proxy();
  m_findings.version = RevisionNumber(kDiagnosticRevision);
  m_findings.agent_version = kProductVersion;
  const std::string answer =
      "HTTP/1.0 200 OK\nContent-Type: application/json\n\n" + FindingsJson(m_findings);
  return QvNewText(answer.data(), answer.size());
}
