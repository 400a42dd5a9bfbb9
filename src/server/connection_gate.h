// Which accepted connections get a thread. Each connection holds a thread
// and a descriptor for up to 30 s, so an idle flood could take them all:
// a host that may neither read files nor call modules is closed at once,
// connections from any one other host are capped, and so are connections
// in all. This machine's own browser (127.0.0.1, the agent's own account)
// is never held to the per-host cap, and a quarter of the cap in all is
// kept for it: the other hosts together get the rest, so that their flood
// cannot lock it out. Past a cap a connection is closed at accept.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

class ConnectionGate {
 public:
  enum class Verdict { kAdmit, kNotServed, kHostFull, kAllFull };

  // Caps below 1 take the defaults.
  void SetCaps(int per_host, int total);
  // served: the host may read files or call modules. An admitted connection
  // counts until Release(peer).
  Verdict Admit(const std::string& peer, bool served);
  void Release(const std::string& peer);

 private:
  std::mutex lock_;
  std::unordered_map<std::string, int> per_host_;
  int total_ = 0;
  int others_ = 0;  // the connections that are not this machine's browser
  int per_host_cap_ = 64;
  int total_cap_ = 2000;
};

// The process's gate; lives as long as the process (client threads are
// detached).
ConnectionGate& TheConnectionGate();
