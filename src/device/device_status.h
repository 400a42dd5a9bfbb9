// What a person wants to know about the broker session beyond the online
// flag: the last login and heartbeat with their results (numbered in the
// order they ended), how many beats in a row the broker refused, whether a
// login is under way, what it waits for and since when, the next beat,
// what the latest TLS handshake made of the broker's certificate, why the
// broker could not be reached, and where the proxy setting came from.
// peerserver's session and device write it; the status module reads it
// through the device pointer. Every member is inline and the record is one
// lock and plain fields, so the program and a module, each with its own
// copy of the runtime, work on the same bytes the same way.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "base/bounded_copy.h"

class QvDeviceStatus {
 public:
  enum Tls : int32_t { kTlsUntried = 0, kTlsVerified = 1, kTlsFailed = 2 };

  // One attempt to reach the broker: when, the page call's result (0: the
  // broker answered), the broker's status text, and why it failed.
  struct Attempt {
    int64_t time = 0;  // seconds since 1970; 0: never
    int32_t result = 0;
    std::string status;
    std::string failure;  // "host:port: reason", or empty
    uint64_t order = 0;   // attempts of either kind count up as they end
  };
  struct Snapshot {
    Attempt login;
    Attempt beat;
    int64_t next_beat = 0;
    int32_t tls = kTlsUntried;
    std::string tls_failure;
    std::string proxy_origin;
    // While a login runs: what it waits for ("127.0.0.1:443", and the proxy
    // on the way), since when its current wait began, and how long one
    // wait may last (seconds).
    std::string login_waits_for;
    int64_t login_wait_began = 0;
    int32_t login_wait_limit = 0;
    // Beats since the last one answered 200 that the broker answered with
    // another status.
    int32_t refused_beats = 0;
  };

  void NoteLoginStarted(std::string_view waits_for, int64_t now, int32_t wait_limit) {
    std::lock_guard<std::mutex> hold(lock_);
    CopyBounded(login_waits_for_, waits_for.empty() ? std::string_view("the broker") : waits_for);
    login_wait_began_ = now;
    login_wait_limit_ = wait_limit;
  }
  // The login under way began another wait (connect, handshake, answer).
  void NoteLoginWait(int64_t now) {
    std::lock_guard<std::mutex> hold(lock_);
    if (login_waits_for_[0] != '\0') login_wait_began_ = now;
  }
  void NoteLogin(int64_t now, int32_t result, std::string_view failure, int32_t tls,
                 std::string_view tls_failure) {
    std::lock_guard<std::mutex> hold(lock_);
    login_waits_for_[0] = '\0';
    Store(login_, now, result, {}, failure);
    StoreTls(tls, tls_failure);
  }
  void NoteBeat(int64_t now, int32_t result, std::string_view status, std::string_view failure,
                uint32_t interval_ms, int32_t tls = kTlsUntried, std::string_view tls_failure = {}) {
    std::lock_guard<std::mutex> hold(lock_);
    Store(beat_, now, result, status, failure);
    next_beat_ = now + interval_ms / 1000;
    StoreTls(tls, tls_failure);
    // A beat that got no answer refused nothing, and so ends a run too.
    refused_beats_ = result == 0 && status != "200" ? refused_beats_ + 1 : 0;
  }

  // "none", "environment", "GNOME settings", ... (device/proxy_settings.h).
  void NoteProxyOrigin(std::string_view origin) {
    std::lock_guard<std::mutex> hold(lock_);
    CopyBounded(proxy_origin_, origin);
  }
  std::string ProxyOrigin() const {
    std::lock_guard<std::mutex> hold(lock_);
    return proxy_origin_;
  }

  Snapshot Read() const {
    std::lock_guard<std::mutex> hold(lock_);
    Snapshot out;
    Load(login_, &out.login);
    Load(beat_, &out.beat);
    out.next_beat = next_beat_;
    out.tls = tls_;
    out.tls_failure = tls_failure_;
    out.proxy_origin = proxy_origin_;
    out.login_waits_for = login_waits_for_;
    out.login_wait_began = login_wait_began_;
    out.login_wait_limit = login_wait_limit_;
    out.refused_beats = refused_beats_;
    return out;
  }

 private:
  struct Record {
    int64_t time;
    int32_t result;
    char status[32];
    char failure[256];
    uint64_t order;
  };
  void Store(Record& record, int64_t now, int32_t result, std::string_view status,
             std::string_view failure) {
    record.time = now;
    record.result = result;
    CopyBounded(record.status, status);
    CopyBounded(record.failure, failure);
    record.order = ++ended_;
  }
  // A request without a handshake (a plain beat) leaves the last word as it was.
  void StoreTls(int32_t tls, std::string_view tls_failure) {
    if (tls == kTlsUntried) return;
    tls_ = tls;
    CopyBounded(tls_failure_, tls_failure);
  }
  static void Load(const Record& record, Attempt* out) {
    out->time = record.time;
    out->result = record.result;
    out->status = record.status;
    out->failure = record.failure;
    out->order = record.order;
  }

  mutable std::mutex lock_;
  Record login_{};
  Record beat_{};
  int64_t next_beat_ = 0;
  int32_t tls_ = kTlsUntried;
  char tls_failure_[128] = {};
  char proxy_origin_[256] = "none";
  char login_waits_for_[128] = {};
  int64_t login_wait_began_ = 0;
  int32_t login_wait_limit_ = 0;
  int32_t refused_beats_ = 0;
  uint64_t ended_ = 0;
};
