// Who reads the program's standard error: a person at a terminal, or
// systemd's journal (the service manager hands a stream whose device and
// inode it names in JOURNAL_STREAM; a shell that merely inherited the
// variable has another stream and does not count).
#pragma once

namespace platform {

bool StandardErrorIsTerminal();
bool StandardErrorIsJournal();

}  // namespace platform
