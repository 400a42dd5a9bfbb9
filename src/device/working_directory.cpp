#include "device/working_directory.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <utility>

#include "base/ascii.h"
#include "base/log.h"
#include "device/fresh_settings.h"
#include "platform/autostart.h"
#include "platform/directory.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/process.h"

namespace {

constexpr char kIniFile[] = "vane.ini";
constexpr char kAutostartEntry[] = "QuovaneTray";
constexpr size_t kCommandLimit = 255;  // the log-on value was read with 256 bytes
// Below the state home: the account's folder, and in it the working
// directory with "..\doc" beside it, as an installation has them.
constexpr char kAccountFolder[] = "/quovane";
// The pages beside the program, which the fresh vane.ini's AppPath names
// through a link in the working directory.
constexpr char kPages[] = "webroot";

std::mutex g_settled_lock;
// A move SettleWorkingDirectory made, not yet logged.
std::optional<WorkingDirectory> g_settled;

bool HoldsSettings(const std::string& directory) {
  return platform::FileExists(platform::NativePath(directory + "\\" + kIniFile));
}

std::optional<std::string> AccountFolder() {
  std::optional<std::string> state = platform::StateHome();
  if (!state) return std::nullopt;
  return *state + kAccountFolder;
}

std::optional<std::string> AccountWorkPath() {
  std::optional<std::string> folder = AccountFolder();
  if (!folder) return std::nullopt;
  return *folder + "/work";
}

// The directory the log-on entry leads to, when it leads somewhere.
std::optional<std::string> LogonWorkingPath() {
  std::optional<std::string> command = platform::AutostartCommand(kAutostartEntry);
  if (!command) return std::nullopt;
  return WorkingPathFromCommand(std::string_view(*command).substr(0, kCommandLimit));
}

// The first directory after the current one that holds a vane.ini.
std::optional<WorkingDirectory> FindSettings() {
  const std::string here = platform::CurrentDirectory();
  if (std::optional<std::string> path = LogonWorkingPath(); path && HoldsSettings(*path)) {
    return WorkingDirectory{WorkingDirectory::kLogonEntry, *path, here};
  }
  const std::string program = platform::ProgramDirectory();
  for (const std::optional<std::string>& path :
       {WorkingPathFromProgramDirectory(program), std::optional(program + "/work")}) {
    if (path && HoldsSettings(*path)) {
      return WorkingDirectory{WorkingDirectory::kInstallation, *path, here};
    }
  }
  if (std::optional<std::string> path = AccountWorkPath(); path && HoldsSettings(*path)) {
    return WorkingDirectory{WorkingDirectory::kAccount, *path, here};
  }
  return std::nullopt;
}

// The account's folder with a fresh vane.ini; why not, in words.
SettledWorkingDirectory MakeAccountFolder() {
  const std::string here = platform::CurrentDirectory();
  std::string problem = "no vane.ini in " + here +
                        " nor where the log-on entry or the installation leads, and nothing is "
                        "made where no vane.ini was";
  std::optional<std::string> work = AccountWorkPath();
  if (!work) {
    return {std::nullopt, problem + "; and no folder for this account's state is known (HOME)"};
  }
  if (int error = platform::MakePrivateDirectories(*work); error != 0) {
    return {std::nullopt, problem + "; cannot make " + *work + ": " + platform::ErrorText(error)};
  }
  // A copy starting at the same moment may have made it first: theirs stands.
  const std::string ini = *work + "/" + kIniFile;
  auto [file, error] = platform::File::Open(ini, platform::OpenMode::kCreateNew);
  if (file.is_open()) {
    error = file.Write(kFreshSettings).error;
    file.Close();
    if (error != 0) platform::RemoveFile(ini);
  }
  if (error != 0 && error != EEXIST) {
    return {std::nullopt, problem + "; cannot write " + ini + ": " + platform::ErrorText(error)};
  }
  return {WorkingDirectory{WorkingDirectory::kAccountMade, *work, here}, {}};
}

// What the account's folder holds beside vane.ini, renewed at every start:
// "..\doc" for the port file, the templates where the system looks for
// them, and the pages of the installation the program runs from. A link
// the user replaced with a folder of their own stays.
void PrepareAccountFolder(const std::string& work) {
  if (std::optional<std::string> folder = AccountFolder()) {
    platform::MakePrivateDirectories(*folder + "/doc");
  }
  platform::PointLinkAt(work + "/vclient", std::string(kPages) + "/vclient");
  const std::string pages = platform::ProgramDirectory() + "/" + kPages;
  if (platform::CheckReadableDirectory(pages) == 0)
    platform::PointLinkAt(work + "/" + kPages, pages);
}

void LogMove(const WorkingDirectory& where) {
  QvLog* log = QvLog::GetInstance();
  switch (where.source) {
    case WorkingDirectory::kCurrent:
      log->Write("QvDevice::Init()->QvNetUtil::CheckWorkingDirectory(): started in maindir", 3);
      return;
    case WorkingDirectory::kLogonEntry:
      log->WriteString("Working path set from registry to ", where.path, 3);
      return;
    case WorkingDirectory::kInstallation:
      log->WriteString("Working path set from the program's folder to ", where.path, 3);
      return;
    case WorkingDirectory::kAccount:
      log->WriteString("Working path set to the account's folder", where.path, 3);
      return;
    case WorkingDirectory::kAccountMade:
      log->WriteString("Working path made for the account", where.path, 3);
      return;
  }
}

}  // namespace

std::optional<std::string> WorkingPathFromCommand(std::string_view command) {
  size_t start = command.find_first_not_of(" \t");
  if (start == std::string_view::npos) return std::nullopt;
  command.remove_prefix(start);
  if (command.starts_with('"')) command.remove_prefix(1);

  size_t slash = command.find("/QvServer");
  size_t backslash = command.find("\\QvServer");
  size_t cut = std::min(slash, backslash);
  if (cut == std::string_view::npos) return std::nullopt;
  if (cut == 0) {
    if (cut == slash) return std::string("/");
    return std::nullopt;
  }
  return std::string(command.substr(0, cut));
}

std::optional<std::string> WorkingPathFromProgramDirectory(std::string_view directory) {
  while (directory.size() > 1 && (directory.back() == '/' || directory.back() == '\\')) {
    directory.remove_suffix(1);
  }
  const size_t slash = directory.find_last_of("/\\");
  if (slash == std::string_view::npos) return std::nullopt;
  if (!EqualsIgnoreCase(directory.substr(slash + 1), "QvServer")) return std::nullopt;
  if (slash == 0) return std::string("/");
  return std::string(directory.substr(0, slash));
}

std::string SettingsFilePath() {
  return platform::NativePath(platform::CurrentDirectory() + "\\" + kIniFile);
}

SettledWorkingDirectory SettleWorkingDirectory() {
  const std::string here = platform::CurrentDirectory();
  SettledWorkingDirectory settled;
  if (platform::FileExists(kIniFile)) {
    settled.chosen = WorkingDirectory{WorkingDirectory::kCurrent, here, here};
  } else if (std::optional<WorkingDirectory> found = FindSettings()) {
    settled.chosen = std::move(found);
  } else {
    settled = MakeAccountFolder();
    if (!settled.chosen) return settled;
  }
  const WorkingDirectory& where = *settled.chosen;
  if (where.source == WorkingDirectory::kAccount ||
      where.source == WorkingDirectory::kAccountMade) {
    PrepareAccountFolder(where.path);
  }
  if (where.source != WorkingDirectory::kCurrent &&
      platform::ChangeDirectory(platform::NativePath(where.path)) != 0) {
    return {std::nullopt, "cannot enter the working directory " + where.path};
  }
  std::lock_guard<std::mutex> hold(g_settled_lock);
  g_settled = where;
  return settled;
}

int CheckWorkingDirectory() {
  if (platform::FileExists(kIniFile)) {
    std::optional<WorkingDirectory> settled;
    {
      std::lock_guard<std::mutex> hold(g_settled_lock);
      settled.swap(g_settled);
    }
    LogMove(settled ? *settled : WorkingDirectory{});
    return 0;
  }
  std::optional<WorkingDirectory> found = FindSettings();
  if (!found || platform::ChangeDirectory(platform::NativePath(found->path)) != 0) {
    QvLog::GetInstance()->Write(
        "QvDevice::Init()->QvNetUtil::CheckWorkingDirectory(): cannot find vane.ini or derive "
        "working path from registry",
        3);
    return -1;
  }
  LogMove(*found);
  return 0;
}

std::string WhyWorkingThere(const WorkingDirectory& where) {
  switch (where.source) {
    case WorkingDirectory::kCurrent:
      return "the current directory holds vane.ini";
    case WorkingDirectory::kLogonEntry:
      return "the log-on entry (" + std::string(kAutostartEntry) +
             ") leads there and it holds vane.ini";
    case WorkingDirectory::kInstallation:
      return "the installation's own working directory holds vane.ini (an older layout)";
    case WorkingDirectory::kAccount:
      return "this account's folder (no vane.ini in " + where.started_in + ")";
    case WorkingDirectory::kAccountMade:
      return "made for this account with a fresh vane.ini (no vane.ini in " + where.started_in +
             ")";
  }
  return {};
}
