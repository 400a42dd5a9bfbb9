#include "server/connection_gate.h"

namespace {

constexpr char kLocalBrowser[] = "127.0.0.1";
constexpr int kDefaultPerHost = 64;
constexpr int kDefaultTotal = 2000;

}  // namespace

void ConnectionGate::SetCaps(int per_host, int total) {
  std::lock_guard<std::mutex> hold(lock_);
  per_host_cap_ = per_host > 0 ? per_host : kDefaultPerHost;
  total_cap_ = total > 0 ? total : kDefaultTotal;
}

ConnectionGate::Verdict ConnectionGate::Admit(const std::string& peer, bool served) {
  if (!served) return Verdict::kNotServed;
  std::lock_guard<std::mutex> hold(lock_);
  if (total_ >= total_cap_) return Verdict::kAllFull;
  const bool browser = peer == kLocalBrowser;
  if (!browser && others_ >= total_cap_ - total_cap_ / 4) return Verdict::kAllFull;
  int& from_host = per_host_[peer];
  if (!browser && from_host >= per_host_cap_) return Verdict::kHostFull;
  ++from_host;
  ++total_;
  if (!browser) ++others_;
  return Verdict::kAdmit;
}

void ConnectionGate::Release(const std::string& peer) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = per_host_.find(peer);
  if (found == per_host_.end()) return;
  if (--found->second <= 0) per_host_.erase(found);
  if (total_ > 0) --total_;
  if (peer != kLocalBrowser && others_ > 0) --others_;
}

ConnectionGate& TheConnectionGate() {
  static auto* gate = new ConnectionGate();
  return *gate;
}
