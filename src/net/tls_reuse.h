// What TLS keeps between requests once the program asks for it at start-up
// (KeepTlsSessions): one client context per trust source, because loading a
// certificate store costs more than a handshake, and the session of the last
// verified handshake with each server, offered at the next connection, so a
// heartbeat every minute resumes instead of paying a full handshake.
//
// A session is only offered through the context that verified it, keyed by
// the server's host and port: a changed trust source (another CA file, or
// the same file mended) makes a new context and so a full, verified
// handshake. A module, loaded for one call, never asks and keeps nothing.
#pragma once

#include <string>

struct ssl_ctx_st;
struct ssl_session_st;

void KeepTlsSessions();
bool TlsSessionsKept();

// The kept context of trust_key with a reference for the caller (free it
// with SSL_CTX_free), or null.
ssl_ctx_st* KeptContext(const std::string& trust_key);
// Keeps ctx for trust_key (adds a reference of its own), replacing another.
void KeepContext(const std::string& trust_key, ssl_ctx_st* ctx);

// A session with server ("host:port") that ctx verified, with a reference
// for the caller (free it with SSL_SESSION_free), or null.
ssl_session_st* KeptSession(const std::string& server, const ssl_ctx_st* ctx);
// Keeps session (takes the caller's reference) for server under ctx.
void KeepSession(const std::string& server, const ssl_ctx_st* ctx, ssl_session_st* session);
void ForgetSession(const std::string& server);
// Drops every kept session: the next handshake with each server is a full one.
void ForgetTlsSessions();
