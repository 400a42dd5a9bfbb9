#include "device/module_entry.h"

#include "base/log.h"
#include "platform/shared_library.h"

namespace {
// The module's GetModuleVersion export, as the module contract declares it.
using GetModuleVersionFn = void (*)(char*);
}  // namespace

QvModule::QvModule(const char* name) : m_szName(name != nullptr ? name : "") {
  QvLog* log = QvLog::GetInstance();
  log->WriteString("QvModule::QvModule()", m_szName, 3);
  std::string error;
  std::optional<platform::SharedLibrary> library = platform::SharedLibrary::Load(m_szName, &error);
  if (!library) {
    log->WriteString("Unable to load dll", m_szName, 3);
    return;
  }
  log->WriteString("Loaded dll", m_szName, 3);
  auto get_version = library->Find<GetModuleVersionFn>("GetModuleVersion");
  if (get_version == nullptr) {
    log->WriteString("No GetModuleVersion", m_szName, 3);
    return;
  }
  char version[32] = {};
  get_version(version);
  version[sizeof version - 1] = '\0';
  m_szVersion = version;
  m_bHasVersion = true;
  log->WriteString("module:", m_szVersion, 3);
}

QvModule::QvModule(const char* name, const char* version)
    : m_szName(name != nullptr ? name : ""),
      m_szVersion(version != nullptr ? version : ""),
      m_bHasVersion(version != nullptr) {}

int QvModule::AcquireModule() {
  std::lock_guard<std::mutex> lock(m_lock);
  return ++m_nUseCount;
}

int QvModule::ReleaseModule() {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_nUseCount <= 0) {
    m_nUseCount = 0;
    return -1;
  }
  return --m_nUseCount;
}

bool QvModule::TryTakeModule() {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_bTaken || m_nUseCount != 0) return false;
  m_bTaken = true;
  return true;
}

bool QvModule::AcquireUnlessTaken() {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_bTaken) return false;
  ++m_nUseCount;
  return true;
}

bool QvModule::IsTaken() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_bTaken;
}

int QvModule::GetUseCount() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_nUseCount;
}
