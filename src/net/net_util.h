// QvNetUtil: the network utility object. Its ConnectRequest is the one way
// a request leaves the device (to the broker, a proxy or a test host). The
// object is four machine words, zero after construction; modules embed one,
// so no data member may be added.
//
// Proxy fields come from the process's outbound device (outbound_state.h);
// every connect, send and receive is bounded by the outbound time-out.
#pragma once

#include <string>
#include <string_view>

#include "platform/native_types.h"

struct tagREQUEST;

class QvNetUtil {
 public:
  QvNetUtil() = default;

  // The first line of the last proxy or HTTP error answer, or null. Points
  // into the error-line buffer of the thread that made the request.
  const char* GetLastErrorLine() const { return m_szLastErrorLine; }

  // One request on one connection.
  //   mode 0: send, then read the answer into *response (when given); an
  //           answer with a 407, 403 or 502 status line is a failure;
  //   mode 1: send the GET only, always direct;
  //   mode 2: send the 12-byte protocol probe made of the first 7 bytes of
  //           path (which must hold 7), always direct.
  // secure: TLS, verified against the system store or BrokerCAFile.
  // tunnel: through an HTTP proxy, open a CONNECT tunnel for a plain request.
  // raw: the answer goes to *response unchanged, headers and all.
  // upload: a multipart POST of request->szUploadFile ("_Yx_Logs.log" for
  //   the debug-log set); path is "<page>?<body's leading part>".
  // With a request record (and no upload) the connected socket is handed to
  // the caller in request->hSocket and 0 is returned before any reading.
  // -1 on every failure; 0 when the server closed after its answer; in
  // modes 1 and 2 the bytes sent.
  int ConnectRequest(const char* host, int port, const char* path, std::string* response,
                     tagREQUEST* request, bool secure, bool tunnel, bool raw, int mode,
                     bool upload);

  // A CONNECT tunnel through the HTTP proxy on socket (owned by the caller);
  // true when the proxy answered 200. creds is the Base64 text or null.
  bool EstablishProxyConnect(const char* host, int port, const char* creds,
                             platform::SocketDescriptor socket);
  // SOCKS 5 (with RFC 1929 username/password when creds is not empty) to
  // host:port through the proxy on socket; true when the proxy acknowledged.
  bool EstablishSocksConnect(const char* host, int port, const char* creds,
                             platform::SocketDescriptor socket);
  // Sends length bytes of buffer, then receives once into buffer (at most
  // size-1 bytes, terminated). Bytes received, 0 on close, -1 on error.
  int SendRecvBuffer(platform::SocketDescriptor socket, char* buffer, int length, int size);

  // Keeps the first line of an error answer (see ErrorLineOf) in this
  // thread's error-line buffer and points the last error line at it.
  void SaveErrorLine(std::string_view answer);

 private:
  void* m_reserved[3] = {};
  const char* m_szLastErrorLine = nullptr;
};
