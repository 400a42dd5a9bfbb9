// What a person who starts peerserver from a terminal sees: -h, --help and
// --version, an error for an option it does not know, and a few plain
// lines on standard error about where the start page is, where the files
// are, what the login waits for and what is wrong with the set-up. Nothing
// is written when standard error is not a terminal, so services and the log
// files see no change.
#pragma once

#include <optional>
#include <string>

class QvDevice;

namespace shell {

// -h, --help, --version, or an unknown "--" option anywhere: the text is
// printed (the usage on standard output, an error and the usage on standard
// error) and the result is the exit code (0, or 2 for the error). None
// otherwise: a bare start or one without -wbx goes on as always.
std::optional<int> AnswerCommandLine(int argc, char** argv);

// One line, "peerserver: " and text, when standard error is a terminal.
void Say(const std::string& text);

// Start-up problems a user can fix: the web root missing or unreadable,
// BrokerCAFile unreadable or not PEM. Each is logged at level 1 and said.
void CheckStartup();

// Why the program cannot start at all, before it has a log: on standard
// error whatever that is (a terminal, the journal, a file).
void SayFailure(const std::string& text);

// The address of the start page of the server bound to port.
std::string StartPageAddress(const std::string& port);

// Before the start-up login: where it goes and how long it may take.
void SayLoginWait(const std::string& target);

// After start-up: the start page, the working directory and the log.
void SayStarted(const QvDevice& device);

}  // namespace shell
