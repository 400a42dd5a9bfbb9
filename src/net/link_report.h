// Why this thread's last outbound request did not reach its server, and
// what its last TLS handshake made of the server's certificate, in words a
// person can act on ("127.0.0.1:44443: Connection refused"). Per thread, so
// a diagnostic probe never overwrites what the heartbeat saw.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

void NoteLinkFailure(std::string_view host, int port, std::string_view reason);
void NoteLinkReached();
// Empty when the last request reached its server.
std::string LastLinkFailure();

// verified false with the verifier's reason, or true.
void NoteTlsOutcome(bool verified, std::string_view failure);
// Forgets the outcome, so that a request without a handshake reports none.
void ClearTlsOutcome();
// 0 no handshake since ClearTlsOutcome, 1 verified, 2 failed (QvDeviceStatus::Tls).
int32_t LastTlsState();
std::string LastTlsFailure();
