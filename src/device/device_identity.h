// Who the device is: its identifier (an adapter's hardware address from a
// time-based UUID), its IPv4 address, its adapters, and the move of the
// debug log at shutdown; where it works is working_directory.h. Free
// functions without state of their own. The log texts name them as members
// of QvNetUtil, as the system always has.
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

#include "device/working_directory.h"
#include "platform/host_identity.h"

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
