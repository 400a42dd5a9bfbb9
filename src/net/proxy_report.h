// What an outbound request learnt about a proxy goes to the broker as a
// page call (RecordHttpProxy), which belongs to the session. The session
// installs that call here, so this room never calls up into the session;
// until it does, nothing is reported.
#pragma once

using ProxyReport = bool (*)(const char* cred_type, const char* proxy_id, const char* return_text,
                             bool socks);

void SetProxyReport(ProxyReport report);

// The installed report's result; false when none is installed, and for a
// proxy met by a report's own request (it is the proxy being reported).
bool ReportProxy(const char* cred_type, const char* proxy_id, const char* return_text, bool socks);
