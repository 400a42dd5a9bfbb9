#include "net/outbound_state.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "base/bounded_copy.h"
#include "base/guarded_text.h"
#include "device/device.h"

namespace {

std::atomic<QvDevice*> g_device{nullptr};
std::atomic<bool> g_browser_agent{false};
std::atomic<uint32_t> g_timeout_ms{30000};
std::atomic<uint32_t> g_deadline_ms{120000};
std::atomic<bool> g_socks_in_progress{false};

constexpr const char kAgent[] = "YxnetAsys";
constexpr const char kBrowserAgent[] = "Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0; Yxnet)";

// Error-line buffers: one per thread that needed one, recycled rather than
// freed, because a QvNetUtil may point at one after its thread ended.
struct ErrorLinePool {
  std::mutex mutex;
  std::vector<char*> free;
  size_t in_use = 0;  // held by live threads
};

ErrorLinePool& Pool() {
  // Never destroyed: a thread may end after the static destructors ran.
  alignas(ErrorLinePool) static unsigned char storage[sizeof(ErrorLinePool)];
  static ErrorLinePool* pool = new (storage) ErrorLinePool();
  return *pool;
}

// A module's copy of this runtime is unloaded after its call, once every
// thread that took a buffer has ended; the recycled buffers would be lost
// with it. They are freed then, but only when no thread holds one.
struct PoolReaper {
  ~PoolReaper() {
    ErrorLinePool& pool = Pool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    if (pool.in_use != 0) return;
    for (char* buffer : pool.free) delete[] buffer;
    std::vector<char*>().swap(pool.free);
  }
} g_pool_reaper;

struct ThreadErrorLine {
  char* buffer = nullptr;
  ~ThreadErrorLine() {
    if (buffer == nullptr) return;
    std::lock_guard<std::mutex> lock(Pool().mutex);
    Pool().free.push_back(buffer);
    --Pool().in_use;
  }
};

}  // namespace

void SetOutboundDevice(QvDevice* device) {
  if (device == nullptr) return;
  QvDevice* expected = nullptr;
  g_device.compare_exchange_strong(expected, device);
}

QvDevice* OutboundDevice() { return g_device.load(); }

void SetBrowserAgent(bool browser) { g_browser_agent.store(browser); }

const char* SelectedAgent() { return g_browser_agent.load() ? kBrowserAgent : kAgent; }

void SetOutboundTimeout(uint32_t milliseconds) {
  g_timeout_ms.store(std::max<uint32_t>(milliseconds, 1));
}

uint32_t OutboundTimeout() { return g_timeout_ms.load(); }

void SetOutboundDeadline(uint32_t milliseconds) {
  g_deadline_ms.store(std::max<uint32_t>(milliseconds, 1));
}

uint32_t OutboundDeadline() { return g_deadline_ms.load(); }

bool BeginSocksNegotiation() { return !g_socks_in_progress.exchange(true); }

void EndSocksNegotiation() { g_socks_in_progress.store(false); }

bool SocksNegotiationInProgress() { return g_socks_in_progress.load(); }

char* ThreadErrorLineBuffer() {
  thread_local ThreadErrorLine line;
  if (line.buffer == nullptr) {
    std::lock_guard<std::mutex> lock(Pool().mutex);
    if (!Pool().free.empty()) {
      line.buffer = Pool().free.back();
      Pool().free.pop_back();
    } else {
      line.buffer = new char[kErrorLineSize]();
    }
    ++Pool().in_use;
  }
  return line.buffer;
}

ProxySnapshot ReadProxySnapshot() {
  ProxySnapshot snapshot;
  QvDevice* device = OutboundDevice();
  if (device == nullptr) return snapshot;
  const QvProxyVars& vars = device->GetProxyVars();
  snapshot.enabled = vars.bProxyEnabled.load();
  snapshot.socks = vars.bSocks.load();
  snapshot.http_host = ReadGuarded(vars.szHttpProxy);
  snapshot.http_port = vars.nHttpPort.load();
  snapshot.https_host = ReadGuarded(vars.szHttpsProxy);
  snapshot.https_port = vars.nHttpsPort.load();
  snapshot.credentials = ReadGuarded(vars.szCreds);
  snapshot.encoded_credentials = ReadGuarded(vars.szCreds64);
  return snapshot;
}

void SetCredentialsNeeded() {
  if (QvDevice* device = OutboundDevice()) device->GetProxyVars().bCredsNeeded.store(true);
}

bool CredentialsNeeded() {
  QvDevice* device = OutboundDevice();
  return device != nullptr && device->GetProxyVars().bCredsNeeded.load();
}

void SetTunnelEstablished() {
  if (QvDevice* device = OutboundDevice()) device->SetTunnelOK(true);
}

std::string ProxyServerName() {
  QvDevice* device = OutboundDevice();
  return device != nullptr ? ReadGuarded(device->GetProxyVars().szProxyServerName) : std::string();
}

void SetProxyServerName(std::string_view name) {
  if (QvDevice* device = OutboundDevice())
    WriteGuarded(device->GetProxyVars().szProxyServerName, name);
}

bool ClaimProxyServerName(std::string_view name) {
  QvDevice* device = OutboundDevice();
  if (device == nullptr) return false;
  char* field = device->GetProxyVars().szProxyServerName;
  std::unique_lock<std::mutex> lock = LockGuardedTexts();
  if (field[0] != '\0') return false;
  CopyBounded(device->GetProxyVars().szProxyServerName, name);
  return true;
}
