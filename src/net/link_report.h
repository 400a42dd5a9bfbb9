// Why this thread's last outbound request did not reach its server, and
// what its last TLS handshake made of the server's certificate, in words a
// person can act on ("127.0.0.1:44443: Connection refused"). Per thread, so
// a diagnostic probe never overwrites what the heartbeat saw.
#pragma once

#include <cstdint>
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

void NoteLinkFailure(std::string_view host, int port, std::string_view reason,
                     LinkFailureKind kind);
void NoteLinkReached();
// Empty when the last request reached its server.
std::string LastLinkFailure();
// The same, taken apart; kind kNone when the last request reached its server.
LinkFailure LastLinkFailureDetail();

// The reason of a handshake that failed for another cause than the certificate.
inline constexpr char kTlsHandshakeFailed[] = "the TLS handshake failed";

// verified false with the verifier's reason, or true.
void NoteTlsOutcome(bool verified, std::string_view failure);
// Forgets the outcome, so that a request without a handshake reports none.
void ClearTlsOutcome();
// 0 no handshake since ClearTlsOutcome, 1 verified, 2 failed (QvDeviceStatus::Tls).
int32_t LastTlsState();
std::string LastTlsFailure();
