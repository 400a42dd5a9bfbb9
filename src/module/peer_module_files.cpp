// File helpers of the module base: sizes, modification dates and digests.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>

#include "base/log.h"
#include "base/qvcrypt.h"
#include "module/QvPeerModule.h"
#include "platform/file_info.h"
#include "platform/path.h"

namespace {

// Seconds since 1970 in decimal, sign included, and the terminator.
constexpr size_t kDateTextSize = 21;

}  // namespace

long QvPeerModule::QvGetFileSize(int descriptor) {
  auto size = platform::DescriptorSize(descriptor);
  long result = size.ok() ? static_cast<long>(size.value) : -1;
  QvLog::GetInstance()->WriteNumber("file size= ", result, 3);
  return result;
}

long QvPeerModule::QvGetFileSize(const char* path) {
  if (path == nullptr) return 0;
  auto opened = platform::OpenDescriptor(platform::NativePath(path));
  if (!opened.ok()) return 0;
  long size = QvGetFileSize(opened.value);
  platform::CloseDescriptor(opened.value);
  return size;
}

int QvPeerModule::QvGetFileModifyDateAndSize(const char* path, long* size, char* date) {
  if (path == nullptr) return ENOENT;
  std::unique_ptr<char[]> decoded(URLDecode(path, false));
  auto status = platform::StatFile(platform::NativePath(decoded.get()));
  if (!status.ok()) {
    QvLog* log = QvLog::GetInstance();
    log->WriteNumber("Error getting modified date! Error is", status.error, 3);
    log->WriteString("Path = ", decoded.get(), 3);
    return status.error;
  }
  if (size != nullptr) *size = static_cast<long>(status.value.size);
  if (date != nullptr) {
    std::snprintf(date, kDateTextSize, "%" PRId64, status.value.modified);
  }
  return 0;
}

void QvPeerModule::PerformDigestOnFile(const char* path, char* dest, int size) {
  if (dest == nullptr || size <= 0) return;
  DigestFile(path, dest, static_cast<size_t>(size));
}
