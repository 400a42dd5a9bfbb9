// In this order: Winsock before windows.h, the IP helper after both.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <rpc.h>
// clang-format on

#include <cstring>
#include <vector>

#include "platform/host_identity.h"
#include "platform/win32/winsock_start.h"

namespace platform {

std::string LocalHostName() {
  StartWinsock();
  char name[256];
  if (::gethostname(name, sizeof name) != 0) return std::string();
  name[sizeof name - 1] = '\0';
  return name;
}

SysResult<std::string> LocalHostAddress() {
  StartWinsock();
  char name[256];
  if (::gethostname(name, sizeof name) != 0) return {std::string(), ::WSAGetLastError()};
  name[sizeof name - 1] = '\0';
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int status = ::getaddrinfo(name, nullptr, &hints, &found);
  if (status != 0) return {std::string(), status};
  std::string dotted;
  for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    char text[INET_ADDRSTRLEN];
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) dotted = text;
    break;
  }
  ::freeaddrinfo(found);
  if (dotted.empty()) return {std::string(), WSAHOST_NOT_FOUND};
  return {dotted, 0};
}

// UuidCreateSequential, in text order: its first three fields are held in
// the machine's (little-endian) order and are turned to the text's here.
std::array<uint8_t, 16> CreateTimeUuid() {
  UUID uuid{};
  ::UuidCreateSequential(&uuid);
  std::array<uint8_t, 16> bytes{};
  bytes[0] = static_cast<uint8_t>(uuid.Data1 >> 24);
  bytes[1] = static_cast<uint8_t>(uuid.Data1 >> 16);
  bytes[2] = static_cast<uint8_t>(uuid.Data1 >> 8);
  bytes[3] = static_cast<uint8_t>(uuid.Data1);
  bytes[4] = static_cast<uint8_t>(uuid.Data2 >> 8);
  bytes[5] = static_cast<uint8_t>(uuid.Data2);
  bytes[6] = static_cast<uint8_t>(uuid.Data3 >> 8);
  bytes[7] = static_cast<uint8_t>(uuid.Data3);
  std::memcpy(bytes.data() + 8, uuid.Data4, 8);
  return bytes;
}

SysResult<std::vector<LinkAdapter>> LinkAdapters() {
  ULONG size = 0;
  std::vector<unsigned char> buffer;
  DWORD rc = ERROR_BUFFER_OVERFLOW;
  // The table may grow between the two calls; a few rounds settle it.
  for (int round = 0; round < 4 && rc == ERROR_BUFFER_OVERFLOW; ++round) {
    buffer.resize(size > 0 ? size : sizeof(IP_ADAPTER_INFO));
    size = static_cast<ULONG>(buffer.size());
    rc = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
  }
  if (rc == ERROR_NO_DATA) return {{}, 0};
  if (rc != ERROR_SUCCESS) return {{}, static_cast<int>(rc)};
  std::vector<LinkAdapter> adapters;
  for (auto* entry = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()); entry != nullptr;
       entry = entry->Next) {
    LinkAdapter adapter;
    adapter.name = entry->AdapterName;
    const size_t length = std::min<size_t>(entry->AddressLength, sizeof entry->Address);
    adapter.address.assign(entry->Address, entry->Address + length);
    adapter.type = static_cast<int>(entry->Type);
    adapters.push_back(std::move(adapter));
  }
  return {std::move(adapters), 0};
}

std::optional<std::string> MachineIdentity() {
  char value[128];
  DWORD size = sizeof value;
  if (::RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", "MachineGuid",
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, value,
                     &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::string text(value);
  if (text.empty()) return std::nullopt;
  return text;
}

// RtlGetVersion tells the true version; GetVersionEx answers what the
// program's manifest claims.
KernelVersion GetKernelVersion() {
  KernelVersion version;
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  auto get = ntdll != nullptr ? reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(
                                    ::GetProcAddress(ntdll, "RtlGetVersion")))
                              : nullptr;
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (get != nullptr && get(&info) == 0) {
    version.major = static_cast<int>(info.dwMajorVersion);
    version.minor = static_cast<int>(info.dwMinorVersion);
  }
  return version;
}

}  // namespace platform
