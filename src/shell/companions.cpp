#include <string>

#include "base/log.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/window_endpoint.h"
#include "shell/shell.h"

namespace shell {
namespace {

// Companion programs are files of the working directory.
bool StartCompanion(const std::string& program) {
  const std::string path = "./" + program;
  if (!platform::FileExists(path)) return false;
  auto started = platform::Process::Start(path, {});
  if (!started.ok() || !started.value) return false;
  started.value->Release();
  return true;
}

}  // namespace

void BringYxshareForwardOrStart() {
  if (platform::PostToWindow("Yxshare", "SHOW")) return;
  if (!StartCompanion("Yxshare.exe")) {
    QvLog::GetInstance()->Write("Could not launch Yxshare.exe!!!", 3);
  }
}

void CloseYxshare() { platform::PostToWindow("Yxshare", "WM_CLOSE"); }

void LaunchYxphoto() {
  if (!StartCompanion("YXPHOTO.EXE")) QvLog::GetInstance()->Write("Could not launch yx.exe!!!", 3);
}

void LaunchYxmsg() {
  if (!StartCompanion("YXMSG.EXE")) {
    QvLog::GetInstance()->Write("Could not launch Yxmsg.exe!!!", 3);
  }
}

}  // namespace shell
