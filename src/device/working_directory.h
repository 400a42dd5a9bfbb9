// Where the device works: the directory that holds its vane.ini, which every
// relative path of the system follows (settings, logs, records, the boot
// folder, templates, "..\doc\port.js", modules for device messages). Tried in
// order, each only when it holds vane.ini: the current directory; the one
// the log-on entry's command leads to (the folder above its "QvServer"
// folder); the installation's own (the folder above the "QvServer" folder
// the program runs from, or "work" beside the program, where older installs
// kept it); the account's folder, <state home>/quovane/work.
//
// Where the system keeps per-account state (Linux), that folder is made at
// the first start: 0700, with a fresh vane.ini (0600) and "..\doc"; each
// start points its "webroot" link at the pages beside the program, so the
// installation can move. Nothing is ever made in a directory that holds no
// vane.ini. The log texts name these as members of QvNetUtil, as the system
// always has.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct WorkingDirectory {
  enum Source { kCurrent, kLogonEntry, kInstallation, kAccount, kAccountMade };
  Source source = kCurrent;
  std::string path;
  std::string started_in;  // the current directory at the start
};

// The choice, or why there is none (in words).
struct SettledWorkingDirectory {
  std::optional<WorkingDirectory> chosen;
  std::string problem;
};

// Moves to the working directory, making the account's folder when nothing
// else holds a vane.ini. Runs before anything is logged or read from the
// settings (the log takes its level from them) and logs nothing; the next
// CheckWorkingDirectory logs the move.
SettledWorkingDirectory SettleWorkingDirectory();

// 0 when the current directory holds vane.ini or after moving to the first
// directory of the order above that does; -1 otherwise. Makes nothing.
int CheckWorkingDirectory();

// Why the device works there, in words for the terminal.
std::string WhyWorkingThere(const WorkingDirectory& where);

// The full path of the working directory's vane.ini, for messages that
// tell a person where to change a setting.
std::string SettingsFilePath();

// ---- The pure parts, for tests. ----

// The directory above dir when dir is a folder named "QvServer" (without
// regard to case); none otherwise.
std::optional<std::string> WorkingPathFromProgramDirectory(std::string_view dir);

// The directory above the "QvServer" directory in a log-on command ("/" or
// "\" before it; a leading quote is dropped); none when it has none.
std::optional<std::string> WorkingPathFromCommand(std::string_view command);
