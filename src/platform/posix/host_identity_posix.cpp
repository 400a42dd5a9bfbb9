#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/file.h"
#include "platform/host_identity.h"

namespace platform {

std::string LocalHostName() {
  char name[256];
  if (::gethostname(name, sizeof name) != 0) return std::string();
  name[sizeof name - 1] = '\0';
  return name;
}

SysResult<std::string> LocalHostAddress() {
  char name[256];
  if (::gethostname(name, sizeof name) != 0) return {std::string(), errno != 0 ? errno : EINVAL};
  name[sizeof name - 1] = '\0';

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int status = ::getaddrinfo(name, nullptr, &hints, &found);
  if (status != 0) {
    int error = status == EAI_SYSTEM && errno != 0 ? errno : status;
    return {std::string(), error};
  }
  std::string dotted;
  for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    char text[INET_ADDRSTRLEN];
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) dotted = text;
    break;
  }
  ::freeaddrinfo(found);
  if (dotted.empty()) return {std::string(), EAI_NONAME};
  return {dotted, 0};
}

std::array<uint8_t, 16> CreateTimeUuid() {
  uuid_t uuid;
  ::uuid_generate_time(uuid);
  std::array<uint8_t, 16> bytes;
  std::memcpy(bytes.data(), uuid, bytes.size());
  return bytes;
}

SysResult<std::vector<LinkAdapter>> LinkAdapters() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return {{}, errno};
  std::vector<LinkAdapter> adapters;
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
    if ((entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
    const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
    size_t length = std::min<size_t>(link->sll_halen, sizeof link->sll_addr);
    LinkAdapter adapter;
    adapter.name = entry->ifa_name != nullptr ? entry->ifa_name : "";
    adapter.address.assign(link->sll_addr, link->sll_addr + length);
    adapter.type = link->sll_hatype;
    adapters.push_back(std::move(adapter));
  }
  ::freeifaddrs(list);
  return {std::move(adapters), 0};
}

std::optional<std::string> MachineIdentity() {
  for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    std::optional<std::string> text = ReadWholeFile(path);
    if (!text) continue;
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r' || text->back() == ' ')) {
      text->pop_back();
    }
    if (!text->empty()) return text;
  }
  return std::nullopt;
}

KernelVersion GetKernelVersion() {
  KernelVersion version;
  utsname names{};
  if (::uname(&names) == 0) {
    std::sscanf(names.release, "%d.%d", &version.major, &version.minor);
  }
  return version;
}

}  // namespace platform
