// qvbroker: a broker simulator for tests and demonstrations. See README.md.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "broker_state.h"
#include "options.h"
#include "pages.h"
#include "recorder.h"
#include "relays.h"
#include "server.h"
#include "sys.h"
#include "tls.h"

namespace {

using namespace qvbroker;

// Written beside the target and renamed, so that a test polling for the
// file never reads it half written.
bool WriteFileAtomically(const std::string& path, const std::string& text) {
  std::string partial = path + ".part";
  {
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file.flush()) return false;
  }
  std::error_code ec;
  std::filesystem::rename(partial, path, ec);
  return !ec;
}

std::string JoinPorts(const std::vector<uint16_t>& ports) {
  std::string out;
  for (uint16_t port : ports) {
    if (!out.empty()) out.push_back(',');
    out += std::to_string(port);
  }
  return out;
}

int Fail(const std::string& message) {
  std::cerr << "qvbroker: " << message << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  switch (ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    case ParseOutcome::kHelp:
      std::cout << Usage();
      return 0;
    case ParseOutcome::kVersion:
      std::cout << kVersionText;
      return 0;
    case ParseOutcome::kError:
      std::cerr << "qvbroker: " << error << "\n" << Usage();
      return 2;
    case ParseOutcome::kRun:
      break;
  }
  // Before any thread starts, so that every thread inherits the blocked set.
  sys::PrepareSignals();

  std::unique_ptr<TlsContext> tls = TlsContext::Create(options.certFile, options.keyFile, &error);
  if (!tls) return Fail(error);
  if (!options.caOut.empty() && !WriteFileAtomically(options.caOut, tls->caPem())) {
    return Fail("cannot write " + options.caOut);
  }

  Recorder recorder(options.recordDir);
  if (error = recorder.Prepare(); !error.empty()) return Fail(error);

  BrokerState state;
  state.SetOpen(options.open);
  state.SetProxies(options.proxies);
  for (const auto& rule : options.failRules) state.SetFailRule(rule);
  for (const auto& message : options.messages) state.QueueMessage({}, message);
  for (const auto& device : options.devices) {
    if (error = state.UpsertDevice(ParseQuery(device)); !error.empty()) {
      return Fail("--device " + device + ": " + error);
    }
  }

  Relays relays;
  std::vector<RelayMode> relayModes;
  for (const auto& mode : options.relays) relayModes.push_back(*ParseRelayMode(mode));
  if (error = relays.Replace(relayModes); !error.empty()) return Fail(error);
  std::vector<std::string> proxies = options.proxies;
  for (const auto& endpoint : relays.Endpoints()) proxies.push_back(endpoint);
  state.SetProxies(proxies);

  Pages pages(state, recorder, options.storeDir);
  pages.SetRelays(&relays);
  Server server(options, pages, tls.get());
  if (error = server.Start(); !error.empty()) return Fail(error);

  const std::string ready = "qvbroker ready plain=" + JoinPorts(server.plainPorts()) +
                            " tls=" + JoinPorts(server.tlsPorts()) + "\n";
  if (!options.readyFile.empty() && !WriteFileAtomically(options.readyFile, ready)) {
    return Fail("cannot write " + options.readyFile);
  }
  std::cout << ready << std::flush;

  sys::WaitForStopSignal();
  server.Stop();
  relays.Stop();
  return 0;
}
