#include "net/proxy_report.h"

#include <atomic>

namespace {

std::atomic<ProxyReport> g_report{nullptr};

}  // namespace

void SetProxyReport(ProxyReport report) { g_report.store(report); }

bool ReportProxy(const char* cred_type, const char* proxy_id, const char* return_text, bool socks) {
  ProxyReport report = g_report.load();
  return report != nullptr && report(cred_type, proxy_id, return_text, socks);
}
