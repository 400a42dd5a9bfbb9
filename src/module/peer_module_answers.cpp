// Answer helpers of the module base: sending, error and redirect answers,
// broker details and the content version list.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "base/log.h"
#include "base/settings.h"
#include "broker/jsp_response.h"
#include "module/QvPeerModule.h"
#include "platform/socket.h"

namespace {

constexpr size_t kErrorAnswerSize = 4096;
constexpr size_t kRedirectSize = 256;
// ContentVersions is read into 255 bytes: longer lists would come back cut.
constexpr size_t kContentListMax = 254;

}  // namespace

int QvPeerModule::SendBuffer(const char* bytes, int length) {
  if (m_pRequest == nullptr) return 0;
  return SendBuffer(bytes, length, m_pRequest->hSocket);
}

int QvPeerModule::SendBuffer(const char* bytes, int length, platform::SocketDescriptor& socket) {
  QvLog* log = QvLog::GetInstance();
  log->WriteNumber("Want to send: ", length, 4);
  if (length <= 0) return 1;
  if (bytes == nullptr) return 0;
  // The platform send continues after partial sends until all is out.
  auto sent = platform::Send(socket, std::string_view(bytes, static_cast<size_t>(length)));
  if (sent.value > 0) log->WriteNumber("Sent: ", sent.value, 4);
  if (!sent.ok()) {
    log->WriteNumber("SendFile SOCKET_ERROR: ", sent.error, 3);
    return 0;
  }
  return 1;
}

char* QvPeerModule::GetCgiErrorReturn(const char* message, int code) {
  QvLog::GetInstance()->WriteString("RegturnCgiError: ", message, 3);
  char* answer = new char[kErrorAnswerSize];
  // The code travels in a "qvstatus" header, the key under which the
  // system's other answers report a status; the message is the body.
  std::snprintf(answer, kErrorAnswerSize, "HTTP/1.0 200 OK\n%s: %d\n\n<html>%s</html>\n", "qvstatus",
                code, message != nullptr ? message : "");
  return answer;
}

char* QvPeerModule::GetRedirectURL(const char* default_target) {
  char* answer = new char[kRedirectSize];
  answer[0] = '\0';
  std::unique_ptr<char[]> decoded;
  const char* target = GetCgiValue("target");
  if (target != nullptr && *target != '\0') {
    decoded.reset(URLDecode(target, false));
    target = decoded.get();
  } else {
    target = default_target;
  }
  if (target == nullptr) return answer;
  int length = std::snprintf(answer, kRedirectSize, "HTTP/1.0 302 Found\nLocation: %s?", target);
  if (length < 0 || static_cast<size_t>(length) >= kRedirectSize) {
    // A cut address would send the browser somewhere else: no redirect.
    answer[0] = '\0';
    QvLog::GetInstance()->WriteNumber("GetRedirectURL: target too long, characters: ",
                                      static_cast<long>(std::strlen(target)), 1);
  }
  return answer;
}

const char* QvPeerModule::GetJspDetails(QvJspResponse* response, const char* key) {
  if (response == nullptr) return nullptr;
  const char* value = response->GetDetails(key);
  if (value == nullptr) {
    QvLog::GetInstance()->WriteString("GetJspDetails - No Details for key: ", key, 3);
    m_bDetailsMissing = true;
  }
  return value;
}

void QvPeerModule::MakeContentEntry(const char* name, const char* version) {
  if (name == nullptr || *name == '\0') return;
  QvSettings* settings = QvSettings::GetInstance();
  std::string list = settings->ContentVersions();
  std::string grown;
  if (list == "0") {
    grown = name;
  } else if (list.find(name) == std::string::npos) {
    grown = list + "," + name;
  } else {
    grown = list;
  }
  if (grown.size() > kContentListMax) {
    QvLog::GetInstance()->WriteString("MakeContentEntry: ContentVersions is full, not listed", name,
                                      1);
    grown = list;
  }
  settings->WriteSetting("ContentVersions", grown);
  settings->WriteSetting(name, version != nullptr ? version : "");
}
