#include <string>

#include "base/log.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/window_endpoint.h"
#include "shell/shell.h"
#include "shell/tray.h"

namespace shell {
namespace {

// Companion programs are files of the working directory. Empty when it
// started, else what is missing or went wrong, in words.
std::string StartCompanion(const std::string& program) {
  const std::string path = "./" + program;
  if (!platform::FileExists(path)) {
    return "there is no " + program + " in " + platform::CurrentDirectory();
  }
  auto started = platform::Process::Start(path, {});
  if (!started.ok() || !started.value) {
    return program + " in " + platform::CurrentDirectory() +
           " could not be started: " + platform::ErrorText(started.error);
  }
  started.value->Release();
  return {};
}

// A missing companion is a failure the user asked about: logged whatever
// LogLevel says, and told on the desktop.
void Launch(const std::string& program, const char* name, const char* failure_line) {
  const std::string why = StartCompanion(program);
  if (why.empty()) return;
  QvLog::GetInstance()->WriteString(failure_line, why, 1);
  ShowCompanionNotice(std::string(name) + " cannot be launched: " + why + ".");
}

}  // namespace

void BringYxshareForwardOrStart() {
  if (platform::PostToWindow("Yxshare", "SHOW")) return;
  Launch("Yxshare.exe", "Yxshare", "Could not launch Yxshare.exe!!!");
}

void CloseYxshare() { platform::PostToWindow("Yxshare", "WM_CLOSE"); }

void LaunchYxphoto() { Launch("YXPHOTO.EXE", "Yxphotoshare", "Could not launch yx.exe!!!"); }

void LaunchYxmsg() { Launch("YXMSG.EXE", "Yxmsg", "Could not launch Yxmsg.exe!!!"); }

}  // namespace shell
