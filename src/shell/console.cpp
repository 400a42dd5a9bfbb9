#include "shell/console.h"

#include <cstdio>
#include <string_view>

#include "base/log.h"
#include "base/revision.h"
#include "base/settings.h"
#include "broker/broker_channel.h"
#include "device/device.h"
#include "device/setup_check.h"
#include "net/outbound_state.h"
#include "platform/directory.h"
#include "platform/terminal.h"
#include "shell/shell.h"

namespace shell {
namespace {

constexpr char kUsage[] =
    "Usage: peerserver -wbx [-pla]\n"
    "       peerserver -h | --help | --version\n"
    "\n"
    "The device agent: a local web server for the pages of its web root and the\n"
    "modules they call, and the device's session with the broker.\n"
    "\n"
    "It works in the directory that holds vane.ini: the current one, else the one\n"
    "its log-on entry ($XDG_CONFIG_HOME/autostart/QuovaneTray.desktop) leads to,\n"
    "else an older installation's (work/ beside the program), else this\n"
    "account's, $XDG_STATE_HOME/quovane/work (~/.local/state/quovane/work), made\n"
    "with a fresh vane.ini at the first start. Settings (vane.ini), logs\n"
    "(QvDebug.log) and records live there.\n"
    "\n"
    "  -wbx       run (without it, ./vaneboot.exe is started instead and the\n"
    "             program ends)\n"
    "  -pla       once running, bring Yxshare forward or start it\n"
    "  -h, --help this text\n"
    "  --version  the program's version\n"
    "\n"
    "Once it runs, its start page (printed on a terminal) shows whether the\n"
    "device is online at its broker, and why not. Stop it with Ctrl-C or SIGTERM.\n";

void Problem(const std::string& text) {
  QvLog::GetInstance()->WriteString("Start-up check", text, 1);
  Say(text);
}

}  // namespace

std::optional<int> AnswerCommandLine(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  const std::string_view first = argv[1];
  if (first == "--help" || first == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (first == "--version") {
    std::printf("peerserver %s (QvServer %s)\n", kProductVersion,
                RevisionNumber(kServerRevision).c_str());
    return 0;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.starts_with("--")) {
      std::fprintf(stderr, "peerserver: unknown option %s\n\n%s", argv[i], kUsage);
      return 2;
    }
  }
  return std::nullopt;
}

void Say(const std::string& text) {
  if (platform::StandardErrorIsTerminal()) SayFailure(text);
}

void CheckStartup() {
  for (const std::string& problem : SetupProblems()) Problem(problem);
}

void SayFailure(const std::string& text) {
  // Settings, paths and broker answers end up here: no control sequence
  // reaches the terminal.
  std::string line = text;
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  std::fprintf(stderr, "peerserver: %s\n", line.c_str());
  std::fflush(stderr);
}

std::string StartPageAddress(const std::string& port) {
  return "http://127.0.0.1:" + port + "/index.html";
}

void SayLoginWait(const std::string& target) {
  Say("logging in to the broker at " + target + "; waiting for its answer (up to " +
      std::to_string(OutboundTimeout() / 1000) + " s for each step)");
}

void SayStarted(const QvDevice& device) {
  if (!platform::StandardErrorIsTerminal()) return;
  QvSettings* settings = QvSettings::GetInstance();
  Say("start page " + StartPageAddress(device.GetAppPort()));
  const std::string here = platform::CurrentDirectory();
  const int level = settings->LogLevel();
  Say("working directory " + here + "; log " +
      (level > 0 ? here + "/QvDebug.log (LogLevel " + std::to_string(level) +
                       "; QvDebuglog.bak after the stop)"
                 : std::string("off (LogLevel 0 in vane.ini)")));
  if (!SecureBrokerPages()) {
    Say("broker messages are not authenticated: SecureBrokerPages=0 in vane.ini sends heartbeats "
        "and reports in plain HTTP");
  }
}

}  // namespace shell
