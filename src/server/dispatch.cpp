#include "server/dispatch.h"

#include <cstring>
#include <string_view>

#include "common/device.h"
#include "common/log.h"
#include "server/module_host.h"
#include "server/server_state.h"

namespace {
constexpr size_t kPathField = sizeof(tagREQUEST::szFilePath);
}

bool isDLL(const char* path) {
  QvLog* log = QvLog::GetInstance();
  size_t length = strnlen(path, kPathField);
  if (length == kPathField) return false;
  std::string_view text(path, length);
  size_t dot = text.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || text.substr(dot) != ".dll") return false;
  size_t slash = text.rfind('/');
  if (slash == std::string_view::npos) {
    log->WriteString("DLL name malformed: missing leading slash?", path, 3);
    return false;
  }
  QvDevice* device = TheServerState().pDevice;
  std::string name(text.substr(slash + 1));
  if (device != nullptr && device->FindModule(name.c_str()) != nullptr) return true;
  log->WriteString("isDLL: not in module list:", path, 3);
  return false;
}

void RunDll(tagREQUEST* request) {
  QvLog::GetInstance()->WriteString("RunDll: ", request->szFilePath, 3);
  WebCall(request);
}
