#include "net/proxy_report.h"

#include <atomic>

namespace {

std::atomic<ProxyReport> g_report{nullptr};

// Set while this thread sends a report. Over TLS the report's own request
// goes through the same tunnel or SOCKS proxy it reports, and would report
// it again, without end.
thread_local bool t_reporting = false;

}  // namespace

void SetProxyReport(ProxyReport report) { g_report.store(report); }

bool ReportProxy(const char* cred_type, const char* proxy_id, const char* return_text, bool socks) {
  ProxyReport report = g_report.load();
  if (report == nullptr || t_reporting) return false;
  t_reporting = true;
  const bool sent = report(cred_type, proxy_id, return_text, socks);
  t_reporting = false;
  return sent;
}
