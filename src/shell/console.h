// What a person who starts peerserver from a terminal sees: --help and
// --version, and a few plain lines on standard error about where the start
// page is, where the files are, whether the broker let the device in and
// what is wrong with the set-up. Nothing is written when standard error is
// not a terminal, so services and the log files see no change.
#pragma once

#include <optional>
#include <string>

class QvDevice;

namespace shell {

// --help or --version as the first argument: the text is printed on
// standard output and the result is the exit code. None otherwise.
std::optional<int> AnswerCommandLine(int argc, char** argv);

// One line, "peerserver: " and text, when standard error is a terminal.
void Say(const std::string& text);

// Start-up problems a user can fix: vane.ini missing, the web root missing
// or unreadable, BrokerCAFile unreadable or not PEM. Each is logged at
// level 1 and said.
void CheckStartup();

// The address of the start page of the server bound to port.
std::string StartPageAddress(const std::string& port);

// After start-up: the start page, the working directory and log, the broker
// and the login's outcome (login is DeviceLogin's result, none when the
// device did not try).
void SayStarted(const QvDevice& device, std::optional<int> login);

}  // namespace shell
