// What the module sends away: the log upload, the reports of single results
// to the broker, and the help redirect. Nothing that leaves carries a
// password: proxy credentials and device and broker keys become "*".
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>

#include "base/guarded_text.h"
#include "base/log.h"
#include "base/settings.h"
#include "broker/broker_channel.h"
#include "broker/jsp_response.h"
#include "broker/run_jsp.h"
#include "device/broker_endpoint.h"
#include "device/device.h"
#include "diagnostic_module.h"
#include "net/upload_files.h"
#include "net/url_escape.h"
#include "platform/file.h"

namespace {

constexpr char kBoundary[] = "------------~!#~!#~!#~!#";
constexpr size_t kHelpSize = 512;
// A log beyond this is sent cut; the debug logs rotate long before.
constexpr int64_t kMaxFileBytes = 64 << 20;

std::string Or(const char* text) { return text != nullptr ? text : ""; }

// Through the file layer, which refuses a pipe planted at the name instead
// of blocking on it.
bool ReadFile(const std::string& name, std::string* bytes) {
  auto [file, error] = platform::File::Open(name, platform::OpenMode::kRead);
  if (error != 0) return false;
  char chunk[16384];
  for (int64_t left = kMaxFileBytes; left > 0;) {
    auto [n, read_error] = file.Read(chunk, std::min<int64_t>(left, sizeof chunk));
    if (read_error != 0) return false;
    if (n == 0) break;
    bytes->append(chunk, static_cast<size_t>(n));
    left -= n;
  }
  return true;
}

// The copy that leaves is made new for this upload and is the owner's
// alone: whatever stands at its name (a link planted there, a copy a crash
// left) is cleared first, never written through.
bool WriteUploadCopy(const std::string& name, std::string_view bytes) {
  platform::RemoveFile(name);
  auto created = platform::File::Open(name, platform::OpenMode::kCreateNew);
  return created.ok() && created.value.Write(bytes).ok();
}

// The password half of "user:password" is a secret of its own: a log may
// show it apart.
void AddCredentials(std::vector<std::string>& secrets, const std::string& credentials) {
  if (credentials.empty()) return;
  secrets.push_back(credentials);
  size_t colon = credentials.find(':');
  if (colon != std::string::npos) secrets.push_back(credentials.substr(colon + 1));
}

}  // namespace

std::vector<std::string> QvDiagnosticModule::Secrets() const {
  std::vector<std::string> secrets;
  const QvProxyVars& vars = m_pNet->GetProxyVars();
  AddCredentials(secrets, ReadGuarded(vars.szCreds));
  secrets.push_back(ReadGuarded(vars.szCreds64));
  const char* creds = const_cast<QvDiagnosticModule*>(this)->GetCgiValue("creds");
  AddCredentials(secrets, Or(creds));
  QvSettings* settings = QvSettings::GetInstance();
  if (auto stored = settings->GetSetting("DeviceKey"); stored && *stored != "0") {
    secrets.push_back(*stored);
  }
  char key[2048];
  settings->DeviceKey(key, sizeof key);
  secrets.emplace_back(key);
  secrets.push_back(m_pNet->GetBrokerKey());
  if (m_pRequest != nullptr && m_pRequest->pDevice != nullptr) {
    secrets.push_back(m_pRequest->pDevice->GetBrokerKey());
  }
  return secrets;
}

std::string QvDiagnosticModule::Secret(const std::string& text) const {
  return Redact(text, Secrets());
}

std::string QvDiagnosticModule::PostFile(const char* file_name) {
  QvLog* log = QvLog::GetInstance();
  std::unique_ptr<char[]> decoded(URLDecode(file_name, false));
  const std::string name = decoded != nullptr ? decoded.get() : std::string(kDebugLogSetName);
  // A page may name the file: only the logs or a plain name here, never a
  // path to elsewhere on the machine.
  if (!IsUploadableName(name)) {
    log->Write(std::string("QvDiagnosticModule: upload refused: ") + name, 1);
    return "-1";
  }
  std::string bytes;
  if (name == kDebugLogSetName) {
    for (const std::string& part : DebugLogSet()) (void)ReadFile(part, &bytes);
  } else if (!ReadFile(name, &bytes)) {
    log->Write(std::string("QvDiagnosticModule: cannot open ") + name, 1);
    return "-1";
  }

  // The copy that leaves, with the secrets blanked; a name without '%' or
  // '+', which the upload decodes.
  static std::atomic<unsigned> uploads{0};
  const std::string copy = "QvDiagUpload" + std::to_string(++uploads) + ".tmp";
  if (!WriteUploadCopy(copy, Redact(std::move(bytes), Secrets()))) {
    log->Write(std::string("QvDiagnosticModule: cannot write ") + copy, 1);
    platform::RemoveFile(copy);
    return "-1";
  }

  QvDomain* domain = GetDomain();
  const std::string device_sid = m_pNet->GetDeviceSID();
  const bool registered = device_sid != "None";
  const std::string b = kBoundary;
  std::string path = "/asys/PostLog.jsp?";
  path += "--" + b + "\r\nContent-Disposition: form-data; name=\"domainSID\"\r\n\r\n" +
          Or(domain->m_szDomainSID) + "\r\n--" + b +
          "\r\nContent-Disposition: form-data; name=\"vendorSID\"\r\n\r\n" +
          Or(domain->m_szVendorSID) + "\r\n--" + b +
          "\r\nContent-Disposition: form-data; name=\"brokerSID\"\r\n\r\n" +
          Or(domain->m_szBrokerSID) + "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"" +
          (registered ? "deviceSID" : "deviceUID") + "\"\r\n\r\n" +
          (registered ? device_sid : m_pNet->GetDeviceUID()) + "\r\n--" + b +
          "\r\nContent-Disposition: form-data; name=\"asysFile\"; filename=\"" + name +
          "\"\r\nContent-Type: text/plain\r\n\r\n";

  QvBrokerEndpoint* endpoint = m_pNet->GetEndpoint();
  const std::string host = endpoint != nullptr ? endpoint->GetBrokerIP() : std::string();
  char* previous = m_pRequest->szUploadFile;
  m_szUploadName = copy;
  m_pRequest->szUploadFile = m_szUploadName.data();
  const uint32_t start = BeginStep();
  std::string stream;
  const BrokerRoute route = RouteBrokerPage(endpoint);
  const int rc = m_netUtil.ConnectRequest(host.c_str(), route.port, path.c_str(), &stream,
                                          m_pRequest, route.secure, false, false, 0, true);
  // The record outlives this object: it must not keep pointing into it.
  m_pRequest->szUploadFile = previous;
  m_szTestLine = Or(m_netUtil.GetLastErrorLine());
  const Evidence evidence = Gather(host + ":" + std::to_string(route.port), route.secure, start);
  std::remove(copy.c_str());
  QvJspResponse scratch;
  (void)scratch.BuildResponse(stream.c_str());
  const std::string code = GetRetFromHdr();
  const std::string result = rc == 0 ? "200" : code.empty() ? "-1" : code;
  AddStep("postfile", evidence, rc == 0, result);
  return result;
}

int QvDiagnosticModule::ReportDiagnostics(const char* result, const char* operation,
                                          const char* target_sid, const char* incident_id) {
  // No broker to tell.
  if (!BrokerMissing().empty()) return -1;
  QvDomain* domain = GetDomain();
  std::string uri = "/asys/ReportDiagnostics.jsp?domainSID=" + Or(domain->m_szDomainSID) +
                    "&vendorSID=" + Or(domain->m_szVendorSID) +
                    "&brokerSID=" + Or(domain->m_szBrokerSID) + "&ipAddress=" + m_pNet->GetIP() +
                    "&result=" + EscapeUrlValue(Secret(Or(result)));
  uri += "&deviceSID=" + m_pNet->GetDeviceSID();
  if (incident_id != nullptr) uri += std::string("&clientIncidentLID=") + incident_id;
  if (m_bHasQuerySID) uri += "&querySID=" + m_szQuerySID;
  if (target_sid != nullptr) uri += std::string("&targetDeviceSID=") + target_sid;
  const std::string name = operation != nullptr ? operation : m_szOperation;
  if (!name.empty()) uri += "&operation=" + EscapeUrlValue(name);

  const BrokerRoute route = RouteBrokerPage(m_pNet->GetEndpoint());
  QvJspResponse response;
  // Its own request: the error line of the test it reports stays.
  const int rc = RunJsp(BrokerHost().c_str(), route.port, uri.c_str(), &response, route.secure);
  QvLog* log = QvLog::GetInstance();
  if (rc == 0 && response.IsOK()) {
    log->Write("ReportDiagnostics sent:" + Secret(Or(result)) + " " + m_szOperation, 3);
  } else {
    log->WriteNumber("ReportDiagnostics call failed:", rc, 3);
  }
  return rc;
}

char* QvDiagnosticModule::DisplayHelp() {
  std::unique_ptr<char[]> prefix(GetRedirectURL(nullptr));
  std::string text = std::string(prefix.get()) + "qvstatus=200&file=..\\doc\\troubleshoot.chm&page=";
  std::string page = Or(GetCgiValue("page"));
  // At most 512 bytes with the terminator: the page name is cut.
  const size_t room = kHelpSize - 1 - 2 - std::min(text.size(), kHelpSize - 3);
  text += page.substr(0, room) + "\n\n";
  return QvNewText(text.data(), text.size());
}
