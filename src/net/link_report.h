// Why this thread's last outbound request did not reach its server, and
// what its last TLS handshake made of the server's certificate. Two views:
// the connection's failure taken apart (kind, address, the system's words),
// for callers that explain it in their own words; and the request's failure
// in words a person can act on, wherever it happened: where
// ("127.0.0.1:44443", or "proxy 127.0.0.1:3128" when a proxy on the way
// failed) and why ("Connection refused", "no answer within 30 s
// (time-out)", "TLS certificate not verified ..."). Per thread, so a
// diagnostic probe never overwrites what the heartbeat saw.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// What stopped the connection, for callers that explain it in their own words.
enum class LinkFailureKind { kNone, kNameLookup, kRefused, kTimedOut, kOther };

struct LinkFailure {
  LinkFailureKind kind = LinkFailureKind::kNone;
  std::string host;    // the host the connection was for (a proxy's, through one)
  int port = 0;
  std::string reason;  // the system's words
};

// The connection to host:port (the server, or the proxy on the way) failed.
void NoteLinkFailure(std::string_view host, int port, std::string_view reason,
                     LinkFailureKind kind);
// The request failed later, or the connection's failure is told otherwise:
// "host:port: reason", or "proxy host:port: reason" with proxy set.
void NoteRequestFailure(std::string_view host, int port, std::string_view reason,
                        bool proxy = false);
// Forgets both (the request got through, or a new one begins).
void NoteLinkReached();
// In words: the request's failure, else the connection's; empty when the
// last request reached its server.
std::string LastLinkFailure();
// The connection's failure taken apart; kind kNone when it was made.
LinkFailure LastLinkFailureDetail();

// The reason for a wait that ran out: "no answer within N s (time-out)",
// N the outbound time-out.
std::string TimeoutReason();
// The reason of a request that the program's stop ended.
inline constexpr char kStoppedReason[] = "the request was stopped: the program is ending";

// Told on this thread whenever a request begins a wait that the outbound
// time-out bounds (connect, TLS handshake, send, each receive), so that a
// caller can say how long the current one has lasted. Empty: nobody.
void SetWaitListener(std::function<void()> listener);
void NoteWaitBegins();

// What a proxy answered when it would not open the way to the server; the
// request takes it for its failure.
void NoteProxyRefusal(std::string_view why);
std::string TakeProxyRefusal();

// The reason of a handshake that failed for another cause than the certificate.
inline constexpr char kTlsHandshakeFailed[] = "the TLS handshake failed";

// verified false with the verifier's reason, or true.
void NoteTlsOutcome(bool verified, std::string_view failure);
// Forgets the outcome, so that a request without a handshake reports none.
void ClearTlsOutcome();
// 0 no handshake since ClearTlsOutcome, 1 verified, 2 failed (QvDeviceStatus::Tls).
int32_t LastTlsState();
std::string LastTlsFailure();
