// QvDiagnosticModule: tells a user who cannot reach the network why. One
// Execute runs a comma-separated list of operations (connectivity test,
// single HTTP and HTTPS tests, proxy information, relay proxy test, log
// upload, help), collects their results in a tag table and answers with a
// page built from a template under the web root, or with a help redirect.
// Results can be reported to the broker one by one (notifybroker). Each
// test also leaves its findings (findings.h): the page's headline and row
// explanations, and the JSON answer (format=json), come from them.
//
// One object serves one call (the host makes and destroys it); it needs no
// socket: in a device-message call the page is not sent, only logged.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/lookup_table.h"
#include "diagnostic_text.h"
#include "findings.h"
#include "module/QvPeerModule.h"
#include "module/output_generator.h"

inline constexpr char kDiagnosticRevision[] = "$Revision: 1.21 $";

class QvDiagnosticModule : public QvPeerModule {
 public:
  static constexpr int MAX_OPS = 12;

  QvDiagnosticModule();
  ~QvDiagnosticModule() override;

  char* Execute(const char* query, void* pExtra) override;

  // Index in the operation table, or -1.
  static int GetOp(const char* name);
  // Adds one result (name and value) to the page's table.
  void PrepareOutput(const char* name, const char* value, bool caller_template);
  void SendOutput();

  // Result texts: "200", a status code or "-1".
  std::string TestHttp(const std::string& host, bool secure);
  std::string TestHttpBroker(bool secure);
  bool GetProxySettings(bool in_conntest);
  bool TestYxProxy(bool in_conntest);
  void ConnectivityTest();
  // The connectivity test's page from its findings.
  void FinishConnectivityPage();
  std::string PostFile(const char* file_name);
  int ReportDiagnostics(const char* result, const char* operation, const char* target_sid,
                        const char* incident_id);
  char* DisplayHelp();

 private:
  // The page template: "vclient\" + name under the web root.
  void UseTemplate(const char* name);
  void PointOutput(const char* default_template);
  // The status code of the last error line, or empty.
  std::string GetRetFromHdr();
  void ForgetErrorLine();
  // Reports by the notify level's rule.
  void Report(bool failed, const std::string& result);
  std::string Secret(const std::string& text) const;
  std::vector<std::string> Secrets() const;
  std::string BrokerHost();
  char* JsonAnswer();

  // Before a test's request: what earlier requests left behind is forgotten.
  uint32_t BeginStep();
  // A broker test that cannot run: the broker is not configured.
  void AddSkippedStep(const char* name);
  // What the broker's tests need and the device lacks, in the start page's
  // words ("not configured: set ..."), or empty.
  const std::string& BrokerMissing() const { return m_szBrokerMissing; }
  void NoteBrokerStanding();
  // Right after it, before any report goes out.
  Evidence Gather(const std::string& target, bool secure, uint32_t start) const;
  Evidence GatherDirect(const std::string& target, uint32_t start) const;
  void AddStep(const char* name, const Evidence& evidence, bool ok, const std::string& code,
               std::string seen = {});
  // The explanation and state of the output row added last.
  void NoteRow(const std::string& note, bool ok);
  // The connectivity test's words: headline, rows, credentials, re-run link.
  void AddPageFindings();
  // "required but not submitted", "submitted but refused", "submitted & OK"
  // or "not required".
  const char* CredentialsStatus() const;
  ProxyFacts Proxy() const;
  // Where the device's proxy setting came from.
  std::string ProxySource() const;

  QvDevice* m_pNet = nullptr;  // the runtime's outbound device, not owned
  std::vector<RelayProxy> m_proxies;
  int m_nNotifyLevel = 0;
  bool m_bOutputReady = false;
  bool m_bCallerTemplate = false;
  bool m_bTemplateGiven = false;
  int m_nOutputCounter = 1;
  std::string m_szOperation;  // the current operation name
  std::string m_szQuerySID;   // empty: none
  bool m_bHasQuerySID = false;
  bool m_bCredsSubmitted = false;  // in this call, through the creds parameter
  std::string m_szTestLine;        // the last test's error line, empty when none
  std::string m_szUploadName;      // what szUploadFile points at during an upload
  std::string m_szTemplateName;    // the page's template below the web root
  std::string m_szQuery;           // as the call received it
  std::string m_szBrokerMissing;   // see BrokerMissing
  Findings m_findings;             // of this call
  std::unique_ptr<OutputGenerator> m_output;
  QvLookupTable m_table;
};
