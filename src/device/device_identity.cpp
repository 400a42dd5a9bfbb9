#include "device/device_identity.h"

#include <openssl/evp.h>

#include <algorithm>

#include "base/guarded_text.h"
#include "base/log.h"
#include "platform/file.h"
#include "platform/host_identity.h"

namespace {

constexpr size_t kAdapterBytes = 8;    // a 17-byte address text
constexpr size_t kNodeDigits = 12;
constexpr char kDebugLog[] = "QvDebug.log";
constexpr char kBackupLog[] = "QvDebuglog.bak";

bool IsMadeUpNode(const std::array<uint8_t, 16>& uuid) { return (uuid[10] & 0x01) != 0; }

std::string HexText(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0f]);
  }
  return text;
}

// The 36-character text form, "8-4-4-4-12" lower-case hex digits.
std::string UuidText(const std::array<uint8_t, 16>& uuid) {
  std::span<const uint8_t> bytes(uuid);
  return HexText(bytes.subspan(0, 4)) + "-" + HexText(bytes.subspan(4, 2)) + "-" +
         HexText(bytes.subspan(6, 2)) + "-" + HexText(bytes.subspan(8, 2)) + "-" +
         HexText(bytes.subspan(10, 6));
}

// The multicast bit stays set, so a derived node never equals a real
// adapter's address.
std::optional<std::string> NodeFromMachineIdentity(const std::string& identity) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(identity.data(), identity.size(), digest, &length, EVP_sha256(), nullptr) != 1 ||
      length < 6) {
    return std::nullopt;
  }
  digest[0] |= 0x01;
  return HexText(std::span<const uint8_t>(digest, 6));
}

}  // namespace

std::string AdapterAddressText(std::span<const uint8_t> address) {
  return HexText(address.first(std::min(address.size(), kAdapterBytes)));
}

std::string IdentifierFromUuid(const std::array<uint8_t, 16>& uuid,
                               const std::optional<std::string>& machine_identity) {
  std::string text = UuidText(uuid);
  std::string identifier = text.substr(text.size() - kNodeDigits);
  if (!IsMadeUpNode(uuid)) return identifier;
  if (machine_identity) {
    if (std::optional<std::string> node = NodeFromMachineIdentity(*machine_identity)) {
      identifier = *node;
    }
  }
  return identifier + "-loc";
}

int CreateDeviceIdentifier(char* field, size_t size) {
  QvLog* log = QvLog::GetInstance();
  platform::KernelVersion version = platform::GetKernelVersion();
  log->WriteNumber("windows major version ", version.major, 3);
  log->WriteNumber("windows minor ", version.minor, 3);
  IsAdapterPresent("test");
  log->Write("Found function UuidCreateSequential", 3);

  std::array<uint8_t, 16> uuid = platform::CreateTimeUuid();
  const bool local_only = IsMadeUpNode(uuid);
  if (local_only) log->Write("RPC_S_UUID_LOCAL_ONLY", 3);
  std::string identifier =
      IdentifierFromUuid(uuid, local_only ? platform::MachineIdentity() : std::nullopt);
  if (local_only) log->Write("UID: RPC_S_UUID_LOCAL_ONLY", 3);
  WriteGuarded(field, size, identifier);
  return 0;
}

int GetIP(char* field, size_t size) {
  auto [address, error] = platform::LocalHostAddress();
  if (error != 0) {
    QvLog::GetInstance()->WriteNumber("GetIP: WSALastError", error, 3);
    return error;
  }
  WriteGuarded(field, size, address);
  return 0;
}

bool IsAdapterPresent(std::string_view text) {
  QvLog* log = QvLog::GetInstance();
  log->Write("Found function GetAdaptersInfo", 3);
  auto [adapters, error] = platform::LinkAdapters();
  if (error != 0) {
    log->WriteNumber("GetAdaptersInfo() error: ", error, 3);
    return false;
  }
  log->Write("GetAdaptersInfo() success.", 3);
  return IsAdapterIn(text, adapters);
}

bool IsAdapterIn(std::string_view text, const std::vector<platform::LinkAdapter>& adapters) {
  QvLog* log = QvLog::GetInstance();
  bool present = false;
  for (size_t i = 0; i < adapters.size(); ++i) {
    const platform::LinkAdapter& adapter = adapters[i];
    log->Write(i + 1 < adapters.size() ? "Not last adapter..." : "Last adapter", 3);
    std::string address = AdapterAddressText(adapter.address);
    if (text.find(address) != std::string_view::npos) present = true;
    log->WriteNumber("adaptor #: ", static_cast<long>(i + 1), 3);
    log->WriteString("address  ", address, 3);
    log->WriteString("name     ", adapter.name, 3);
    log->WriteString("descript.", adapter.name, 3);
    log->WriteNumber("type     : ", adapter.type, 3);
  }
  return present;
}

bool IsOnline() {
  QvLog::GetInstance()->Write("QvNetUtil::IsOnline()", 3);
  return true;
}

void MoveDebugLog() {
  QvLog* log = QvLog::GetInstance();
  // No backup yet (the first run's shutdown) is nothing to report.
  if (platform::FileExists(kBackupLog) && platform::RemoveFile(kBackupLog) != 0) {
    log->WriteString("QvNetUtil::MoveDebugLog() could not delete debug log backup...", kBackupLog,
                     3);
  }
  if (platform::RenameFile(kDebugLog, kBackupLog) != 0) {
    log->WriteString("QvNetUtil::MoveDebugLog() could not move debug log...", kDebugLog, 3);
  }
}
