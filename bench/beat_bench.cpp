// The device's CPU time per heartbeat, for bench/beat_bench.sh: N beats to
// a running qvbroker, one per route, and the mean CPU time (user and
// system) each cost this process. Routes:
//   plain    plain HTTP to the plain port (SecureBrokerPages=0)
//   fresh    TLS with a new client context per beat (a module's way)
//   full     TLS through the kept context, every beat a full handshake
//   resumed  TLS through the kept context, resuming the last session
// Usage: beat_bench HOST PLAIN_PORT TLS_PORT CA_FILE SID BEATS
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include "base/settings.h"
#include "broker/jsp_response.h"
#include "broker/run_jsp.h"
#include "net/tls_reuse.h"

namespace {

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Mean CPU milliseconds of one beat, or -1 when a beat was not answered 200.
double Measure(const std::string& host, int port, bool secure, const std::string& uri, int beats,
               bool forget_sessions) {
  const double start = CpuSeconds();
  for (int i = 0; i < beats; ++i) {
    if (forget_sessions) ForgetTlsSessions();
    QvJspResponse response;
    if (RunJsp(host.c_str(), port, uri.c_str(), &response, secure) != 0 || !response.IsOK()) {
      return -1;
    }
  }
  return (CpuSeconds() - start) * 1000.0 / beats;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: beat_bench HOST PLAIN_PORT TLS_PORT CA_FILE SID BEATS\n");
    return 2;
  }
  const std::string host = argv[1];
  const int plain = std::atoi(argv[2]);
  const int tls = std::atoi(argv[3]);
  const int beats = std::atoi(argv[6]);
  std::ofstream("vane.ini") << "[Quovane]\nBrokerCAFile=" << argv[4] << "\n";
  const std::string uri = std::string("/asys/Heartbeat.jsp?deviceSID=") + argv[5];

  const double plain_ms = Measure(host, plain, false, uri, beats, false);
  const double fresh_ms = Measure(host, tls, true, uri, beats, false);
  KeepTlsSessions();
  const double full_ms = Measure(host, tls, true, uri, beats, true);
  const double resumed_ms = Measure(host, tls, true, uri, beats, false);
  std::printf("CPU per beat over %d beats (ms): plain %.3f, TLS with a new context %.3f, "
              "TLS full handshake %.3f, TLS resumed %.3f\n",
              beats, plain_ms, fresh_ms, full_ms, resumed_ms);
  return plain_ms < 0 || fresh_ms < 0 || full_ms < 0 || resumed_ms < 0 ? 1 : 0;
}
