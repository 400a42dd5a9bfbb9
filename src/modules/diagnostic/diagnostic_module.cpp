// The module object: parameters, the operation list and its dispatch, the
// page output, and the library's life.
#include "diagnostic_module.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "base/settings.h"
#include "device/device.h"
#include "net/outbound_state.h"

namespace {

struct Operation {
  const char* name;
  const char* logged_as;
};

constexpr Operation kOperations[] = {
    {"http", "DIAG_HTTP"},
    {"brkhttp", "DIAG_HTTP_BROKER"},
    {"https", "DIAG_HTTPS"},
    {"brkhttps", "DIAG_HTTPS"},
    {"proxyinfo", "DIAG_PROXY_INFO"},
    {"yxproxy", "DIAG_YXPROXY_CONNECT_FAIL"},
    {"sendlogs", "DIAG_LOG_ATTACHMENT_FAIL"},
    {"postfile", "DIAG_LOG_POST_FILE"},
};

constexpr char kDiagOutputTemplate[] = "diagoutput.htx";
// Milliseconds one connect, send or receive may take (setting
// DiagnosticTimeout): a stalled relay or broker costs this much per step.
constexpr int kDefaultTimeoutMs = 10000;
constexpr int kMaxTimeoutMs = 600000;

// Values from a proxy, the broker or the query are escaped on the page; the
// verdict is the module's own HTML (its site name escaped when it is made).
class PageOutput : public OutputGenerator {
 protected:
  void HandleTag(const char* name) override {
    std::string value = m_pTable != nullptr ? m_pTable->GetValue(name) : "";
    if (std::strcmp(name, "diagnosis") != 0) value = HtmlEscape(value);
    WriteOutput(value.c_str(), static_cast<int>(value.size()));
  }
};

// Instead of an empty answer: which file is missing, in words, so the user
// can say what to put back.
void SendMissingTemplatePage(platform::SocketDescriptor& socket, const std::string& name) {
  const std::string page =
      "HTTP/1.0 500 Internal Server Error\nCache-Control: no-store\n"
      "Content-Type: text/html\r\n\r\n"
      "<html><head><title>Diagnostic page missing</title></head><body>\n"
      "<p>The diagnostic ran, but its page cannot be shown: the template " +
      HtmlEscape(name) +
      " is missing from the web root or cannot be read. Reinstalling puts it back.</p>\n"
      "</body></html>\n";
  QvPeerModule::SendBuffer(page.data(), static_cast<int>(page.size()), socket);
}

bool HasSocket(const tagREQUEST* request) {
  return request->hSocket != 0 && request->hSocket != platform::kInvalidSocket;
}

// What the library does when it is loaded and unloaded.
struct LibraryLife {
  LibraryLife() { SetBrowserAgent(QvSettings::GetInstance()->IEAgent() == "1"); }
  ~LibraryLife() {
    QvLog::GetInstance()->Write("DETACHING", 4);
    QvSettings::ReleaseInstance();
    QvLog::GetInstance()->Write("done release in dllmain", 4);
    QvLog::ReleaseInstance();
  }
  LibraryLife(const LibraryLife&) = delete;
  LibraryLife& operator=(const LibraryLife&) = delete;
};
LibraryLife g_life;

}  // namespace

QvDiagnosticModule::QvDiagnosticModule() : m_output(std::make_unique<PageOutput>()) {
  QvLog::GetInstance()->Write("QvDiagnosticModule::QvDiagnosticModule", 3);
}

QvDiagnosticModule::~QvDiagnosticModule() {
  QvLog::GetInstance()->Write("QvDiagnosticModule::~QvDiagnosticModule", 3);
}

int QvDiagnosticModule::GetOp(const char* name) {
  if (name == nullptr) return -1;
  for (int i = 0; i < static_cast<int>(std::size(kOperations)); ++i) {
    if (std::strcmp(kOperations[i].name, name) == 0) return i;
  }
  return -1;
}

void QvDiagnosticModule::UseTemplate(const char* name) {
  std::string root = QvSettings::GetInstance()->AppPath();
  std::string path = root.empty() || root == "0" ? std::string() : root + "\\";
  m_szTemplateName = std::string("vclient\\") + name;
  m_output->setTemplate((path + m_szTemplateName).c_str());
}

void QvDiagnosticModule::PointOutput(const char* default_template) {
  m_output->m_pTable = &m_table;
  m_output->setSocket(m_pRequest->hSocket);
  m_output->setSendHeaders(true);
  if (!m_bTemplateGiven) UseTemplate(default_template);
}

void QvDiagnosticModule::PrepareOutput(const char* name, const char* value, bool caller_template) {
  if (!m_bOutputReady) {
    PointOutput(kDiagOutputTemplate);
    m_table.Insert("qvstatus", "200");
  }
  const std::string n = std::to_string(m_nOutputCounter);
  const std::string tag = caller_template ? std::string(name) : "&" + std::string(name) + "=";
  m_table.Insert(("diagtag" + n).c_str(), tag.c_str());
  m_table.Insert(("value" + n).c_str(), value != nullptr ? value : "");
  ++m_nOutputCounter;
  m_bOutputReady = true;
}

void QvDiagnosticModule::SendOutput() {
  if (!m_bOutputReady) return;
  if (!HasSocket(m_pRequest)) {
    // A device-message call: nobody to show the page to.
    QvLog::GetInstance()->Write("QvDiagnosticModule: no socket, page not sent", 3);
    return;
  }
  if (!m_output->ConstructOutputFromTemplate()) {
    const char* path = m_output->getTemplate();
    QvLog::GetInstance()->Write(std::string("QvDiagnosticModule: no template ") + (path ? path : ""), 1);
    SendMissingTemplatePage(m_pRequest->hSocket, m_szTemplateName);
  }
}

char* QvDiagnosticModule::Execute(const char* query, void* pExtra) {
  QvLog* log = QvLog::GetInstance();
  m_nOutputCounter = 1;
  m_bOutputReady = false;
  m_pRequest = static_cast<tagREQUEST*>(pExtra);
  m_findings = Findings{};
  m_szQuery = query != nullptr ? query : "";
  if (m_pRequest == nullptr) {
    log->Write("QvDiagnosticModule: no pExtra, returning.", 3);
    return nullptr;
  }
  m_pNet = UseHostNetwork();
  NoteBrokerStanding();
  const int timeout =
      QvSettings::GetInstance()->GetSettingInt("DiagnosticTimeout", kDefaultTimeoutMs, false);
  SetOutboundTimeout(static_cast<uint32_t>(
      timeout > 0 ? std::min(timeout, kMaxTimeoutMs) : kDefaultTimeoutMs));
  // A peer that trickles bytes within each step's time still ends in time.
  SetOutboundDeadline(OutboundTimeout() * 4);
  ParseString(query);

  const char* operation = GetCgiValue("operation");
  const char* notify = GetCgiValue("notifybroker");
  m_nNotifyLevel = notify != nullptr ? LeadingNumber(notify) : 0;
  const char* sid = GetCgiValue("querySID");
  m_bHasQuerySID = sid != nullptr;
  m_szQuerySID = sid != nullptr ? sid : "";
  m_bTemplateGiven = false;
  m_bCallerTemplate = false;
  if (const char* name = GetCgiValue("template")) {
    // Only a file of the templates folder: a page must not open others.
    if (IsPlainTemplateName(name)) {
      m_bTemplateGiven = m_bCallerTemplate = true;
      UseTemplate(name);
    } else {
      log->Write(std::string("QvDiagnosticModule: template refused: ") + name, 1);
    }
  }

  bool too_many = false;
  std::vector<std::string> names =
      SplitOperations(operation != nullptr ? operation : "conntest", MAX_OPS, &too_many);
  if (too_many) log->Write("==========>error: QvDiagnosticModule: MAX_OPS exceeded!.", 3);

  char* result = nullptr;
  for (const std::string& name : names) {
    m_szOperation = name;
    const int op = GetOp(name.c_str());
    if (op >= 0) log->Write(std::string("QvDiagnosticModule: ") + kOperations[op].logged_as, 3);
    std::string outcome;
    switch (op) {
      case 0: outcome = TestHttp(GetCgiValue("server") ? GetCgiValue("server") : kDefaultSite, false); break;
      case 1: outcome = TestHttpBroker(false); break;
      case 2: outcome = TestHttp(GetCgiValue("server") ? GetCgiValue("server") : kDefaultSite, true); break;
      case 3: outcome = TestHttpBroker(true); break;
      case 4: GetProxySettings(false); continue;
      case 5: TestYxProxy(false); continue;
      case 6: continue;
      case 7: outcome = PostFile(GetCgiValue("filename")); break;
      default:
        if (name == "conntest") {
          ConnectivityTest();
          m_bCallerTemplate = true;
        } else if (name == "displayhelp") {
          delete[] result;
          result = DisplayHelp();
        } else {
          log->Write(std::string("QvDiagnosticModule: invalid operation: ") + name, 3);
        }
        continue;
    }
    if (!m_bOutputReady) {
      PrepareOutput(name.c_str(), m_bCallerTemplate ? m_szTestLine.c_str() : outcome.c_str(),
                    m_bCallerTemplate);
      if (!m_findings.steps.empty() && m_findings.steps.back().name == name) {
        const Step& step = m_findings.steps.back();
        NoteRow(StepNote(step), step.ok || !step.skipped.empty());
      }
    }
  }

  // Credentials given here and what the proxy said serve the host's next
  // login and heartbeat.
  HandBackHostNetwork();

  const char* format = GetCgiValue("format");
  if (format != nullptr && std::strcmp(format, "json") == 0 && m_bOutputReady && result == nullptr) {
    return JsonAnswer();
  }
  SendOutput();
  return result;
}

QV_DEFINE_MODULE(QvDiagnosticModule, kDiagnosticRevision)
