// Who and where the device is: the working directory that holds its
// configuration, its identifier (an adapter's hardware address from a
// time-based UUID), its IPv4 address, its adapters, and the move of the
// debug log at shutdown. Free functions without state of their own; the
// only thing they change is the process's current directory. The log
// texts name them as members of QvNetUtil, as the system always has.
//
// Where the system reports only a made-up node (no hardware address, as in
// most containers), the identifier is derived from the machine identity
// and carries "-loc", so it stays the same from run to run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host_identity.h"

// 0 when the working directory holds "vane.ini", or after moving to the
// directory above the "QvServer" directory of the log-on entry's command,
// or (without a log-on entry) to the installation's working directory, the
// one above the "QvServer" folder the program runs from, when it holds
// "vane.ini"; -1 otherwise.
int CheckWorkingDirectory();

// The full path of the working directory's vane.ini, for messages that
// tell a person where to change a setting.
std::string SettingsFilePath();

// The same move, made before anything is logged or read from the settings
// (the log takes its level from the settings when it starts), and without
// logging; the next CheckWorkingDirectory logs the move it made.
void SettleWorkingDirectory();

// Writes the identifier (12 hex digits, or 12 and "-loc") into field,
// through WriteGuarded. Always 0.
int CreateDeviceIdentifier(char* field, size_t size);

// Writes the dotted address into field, through WriteGuarded; 0, or the
// error number with field unchanged.
int GetIP(char* field, size_t size);

// True when some adapter's address text occurs in text (an adapter without
// a hardware address matches every text). Logs every adapter.
bool IsAdapterPresent(std::string_view text);

// Always true: the device's own flag carries the real online state.
bool IsOnline();

// "QvDebug.log" becomes "QvDebuglog.bak", replacing the old backup.
void MoveDebugLog();

// ---- The pure parts, for tests. ----

// IsAdapterPresent over a given adapter list.
bool IsAdapterIn(std::string_view text, const std::vector<platform::LinkAdapter>& adapters);

// Each address byte as "%.2x", at most the first 8 bytes.
std::string AdapterAddressText(std::span<const uint8_t> address);

// The directory above dir when dir is a folder named "QvServer" (without
// regard to case); none otherwise.
std::optional<std::string> WorkingPathFromProgramDirectory(std::string_view dir);

// The directory above the "QvServer" directory in a log-on command ("/" or
// "\" before it; a leading quote is dropped); none when it has none.
std::optional<std::string> WorkingPathFromCommand(std::string_view command);

// The identifier for a UUID's bytes. A made-up node (multicast bit set) is
// replaced by one derived from machine_identity when there is one, and the
// result ends in "-loc".
std::string IdentifierFromUuid(const std::array<uint8_t, 16>& uuid,
                               const std::optional<std::string>& machine_identity);

template <size_t N>
int CreateDeviceIdentifier(char (&field)[N]) {
  return CreateDeviceIdentifier(field, N);
}
template <size_t N>
int GetIP(char (&field)[N]) {
  return GetIP(field, N);
}
