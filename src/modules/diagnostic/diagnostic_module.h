// QvDiagnosticModule: tells a user who cannot reach the network why. One
// Execute runs a comma-separated list of operations (connectivity test,
// single HTTP and HTTPS tests, proxy information, relay proxy test, log
// upload, help), collects their results in a tag table and answers with a
// page built from a template under the web root, or with a help redirect.
// Results can be reported to the broker one by one (notifybroker).
//
// One object serves one call (the host makes and destroys it); it needs no
// socket: in a device-message call the page is not sent, only logged.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/lookup_table.h"
#include "diagnostic_text.h"
#include "module/QvPeerModule.h"
#include "module/output_generator.h"

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
  char* JsonAnswer() const;

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
  std::unique_ptr<OutputGenerator> m_output;
  QvLookupTable m_table;
};
