// RunJsp: the one way a broker page is called. One GET of uri (the page
// path and its query) to host:port, plain or TLS, through whatever proxy
// the device uses; the answer body goes to response.
#pragma once

class QvJspResponse;

// An answer that came but is no broker answer.
inline constexpr int kUnreadableAnswer = 205;

// 0: the answer was a broker answer (its status may still be an error; ask
// response->IsOK()). kUnreadableAnswer: the request succeeded but the
// answer was no broker answer. Any other value: ConnectRequest's failure, returned as it
// stands, and response stays empty. response must be a fresh object.
int RunJsp(const char* host, int port, const char* uri, QvJspResponse* response, bool secure);
