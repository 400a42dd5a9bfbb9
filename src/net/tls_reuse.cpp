#include "net/tls_reuse.h"

#include <openssl/ssl.h>

#include <atomic>
#include <map>
#include <mutex>

namespace {

struct KeptSessionEntry {
  const ssl_ctx_st* ctx;  // identity only: which context verified it
  SSL_SESSION* session;   // owned
};

struct TlsKeep {
  std::mutex lock;
  std::map<std::string, SSL_CTX*> contexts;  // owned references
  std::map<std::string, KeptSessionEntry> sessions;
};

// Made once and never destroyed: threads the program does not wait for
// (the heartbeat, a connection) may be inside a request while it exits.
std::atomic<TlsKeep*> g_keep{nullptr};

void Drop(KeptSessionEntry& entry) { SSL_SESSION_free(entry.session); }

}  // namespace

void KeepTlsSessions() {
  static std::once_flag once;
  std::call_once(once, [] { g_keep.store(new TlsKeep()); });
}

bool TlsSessionsKept() { return g_keep.load() != nullptr; }

ssl_ctx_st* KeptContext(const std::string& trust_key) {
  TlsKeep* keep = g_keep.load();
  if (keep == nullptr) return nullptr;
  std::lock_guard<std::mutex> hold(keep->lock);
  auto found = keep->contexts.find(trust_key);
  if (found == keep->contexts.end()) return nullptr;
  SSL_CTX_up_ref(found->second);
  return found->second;
}

void KeepContext(const std::string& trust_key, ssl_ctx_st* ctx) {
  TlsKeep* keep = g_keep.load();
  if (keep == nullptr || ctx == nullptr) return;
  SSL_CTX_up_ref(ctx);
  std::lock_guard<std::mutex> hold(keep->lock);
  // One trust source at a time: the old contexts and their sessions go.
  for (auto& [key, kept] : keep->contexts) SSL_CTX_free(kept);
  keep->contexts.clear();
  for (auto& [server, entry] : keep->sessions) Drop(entry);
  keep->sessions.clear();
  keep->contexts[trust_key] = ctx;
}

ssl_session_st* KeptSession(const std::string& server, const ssl_ctx_st* ctx) {
  TlsKeep* keep = g_keep.load();
  if (keep == nullptr) return nullptr;
  std::lock_guard<std::mutex> hold(keep->lock);
  auto found = keep->sessions.find(server);
  if (found == keep->sessions.end() || found->second.ctx != ctx) return nullptr;
  SSL_SESSION_up_ref(found->second.session);
  return found->second.session;
}

void KeepSession(const std::string& server, const ssl_ctx_st* ctx, ssl_session_st* session) {
  TlsKeep* keep = g_keep.load();
  if (keep == nullptr) {
    SSL_SESSION_free(session);
    return;
  }
  std::lock_guard<std::mutex> hold(keep->lock);
  auto found = keep->sessions.find(server);
  if (found != keep->sessions.end()) Drop(found->second);
  keep->sessions[server] = {ctx, session};
}

void ForgetSession(const std::string& server) {
  TlsKeep* keep = g_keep.load();
  if (keep == nullptr) return;
  std::lock_guard<std::mutex> hold(keep->lock);
  auto found = keep->sessions.find(server);
  if (found == keep->sessions.end()) return;
  Drop(found->second);
  keep->sessions.erase(found);
}

void ForgetTlsSessions() {
  TlsKeep* keep = g_keep.load();
  if (keep == nullptr) return;
  std::lock_guard<std::mutex> hold(keep->lock);
  for (auto& [server, entry] : keep->sessions) Drop(entry);
  keep->sessions.clear();
}
