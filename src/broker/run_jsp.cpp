#include "broker/run_jsp.h"

#include <string>

#include "base/log.h"
#include "broker/jsp_response.h"
#include "net/link_report.h"
#include "net/net_util.h"

int RunJsp(const char* host, int port, const char* uri, QvJspResponse* response, bool secure) {
  QvNetUtil util;
  std::string stream;
  int result =
      util.ConnectRequest(host, port, uri, &stream, nullptr, secure, false, false, 0, false);
  QvLog::GetInstance()->WriteNumber("GetUrlData returned ", result, 4);
  if (result != 0) return result;
  // The stream is text: it ends at the terminator written on close.
  if (response == nullptr || response->BuildResponse(stream.c_str()) != 0) {
    NoteRequestFailure(host != nullptr ? host : "", port, "its answer is no broker answer");
    return kUnreadableAnswer;
  }
  return 0;
}
