#include "base/log.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "base/settings.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/named_mutex.h"
#include "platform/refused_file.h"
#include "platform/terminal.h"
#include "platform/thread.h"

namespace {

constexpr char kDebugLog[] = "QvDebug.log";
constexpr char kErrorLog[] = "QvErrLog.log";
constexpr char kBackupLog[] = "QvDebuglog.bak";
constexpr uint32_t kDefaultLimit = 0x500000;  // 5 MB
constexpr uint32_t kMutexWaitMs = 5000;

std::atomic<bool> g_constructed{false};
std::mutex g_construct_mutex;
std::atomic<uint32_t> g_limit{kDefaultLimit};
// Created once and kept across re-creation of the log; never destroyed,
// since detached threads may still log while the process exits. In static
// storage, not on the heap: a module's copy goes when its library is
// unloaded, instead of leaking at every call.
alignas(platform::NamedMutex) unsigned char g_mutex_storage[sizeof(platform::NamedMutex)];
std::atomic<platform::NamedMutex*> g_mutex{nullptr};

std::string Stamp() {
  platform::LocalTime t = platform::Now();
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d %02d/%02d/%4d (%6d)", t.hour,
                t.minute, t.second, t.month, t.day, t.year,
                static_cast<int>(platform::CurrentThreadId()));
  return stamp;
}

// Under systemd the failures go to the journal too, whatever LogLevel says
// of the files: that is where a service's trouble is looked for.
bool Journal() {
  static const bool journal = platform::StandardErrorIsJournal();
  return journal;
}

// One line, marked with the journal's "error" priority.
void ToJournal(std::string_view message) {
  std::string line = "<3>";
  line.append(message);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

bool QvLog::Wants(int level) const { return level <= GetLevel() || (level == 1 && Journal()); }

QvLog& QvLog::Storage() {
  // Trivially destructible, so threads may still log during static destruction.
  static QvLog instance;
  return instance;
}

QvLog* QvLog::GetInstance() {
  if (!g_constructed.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(g_construct_mutex);
    if (!g_constructed.load(std::memory_order_relaxed)) {
      Storage().Construct();
      g_constructed.store(true, std::memory_order_release);
    }
  }
  return &Storage();
}

void QvLog::ReleaseInstance() {
  if (!g_constructed.load(std::memory_order_acquire)) return;
  Storage().Write("QvLog::ReleaseInstance", 3);
  g_constructed.store(false, std::memory_order_release);
}

void QvLog::Construct() {
  // First: reading the settings below may meet a refused vane.ini.
  platform::SetRefusedFileListener(&QvLog::ReportRefusedFile);
  const std::vector<int> values =
      QvSettings::GetInstance()->GetSettingInts({{"LogLevel", 0}, {"LogReset", 0}, {"LogLimit", 0}});
  level_.store(values[0]);
  if (values[1] != 0) Reset();
  CreateMutex();
  const int megabytes = values[2];
  uint32_t limit = static_cast<uint32_t>(megabytes) << 20;
  g_limit.store(limit != 0 ? limit : kDefaultLimit);
}

void QvLog::ReportRefusedFile(const std::string& path) {
  // Once per name: the refused file may be the log itself, which every line
  // would try again. A bounded list: past it, names are told every time.
  constexpr size_t kNamesKept = 64;
  static std::mutex told_lock;
  static auto* told = new std::vector<std::string>();
  {
    std::lock_guard<std::mutex> hold(told_lock);
    if (std::find(told->begin(), told->end(), path) != told->end()) return;
    if (told->size() < kNamesKept) told->push_back(path);
  }
  const std::string line = "Refused to open, not a regular file: " + path;
  Storage().Write(line, 1);
}

void QvLog::CreateMutex() {
  // A function's static, not call_once: a module's log is made on every
  // call, and call_once wakes possible waiters with a system call each time.
  static platform::NamedMutex* const mutex =
      new (g_mutex_storage) platform::NamedMutex("LOG_MUTEX");
  g_mutex.store(mutex);
}

void QvLog::Reset() {
  platform::File::Open(kDebugLog, platform::OpenMode::kTruncate);
  platform::File::Open(kErrorLog, platform::OpenMode::kTruncate);
}

bool QvLog::Write(std::string_view message, int level) {
  WriteJournal(message, level);
  return WriteFile(message, level);
}

void QvLog::WriteJournal(std::string_view message, int level) {
  if (level == 1 && Journal()) ToJournal(message);
}

bool QvLog::WriteFile(std::string_view message, int level) {
  // A filtered line would be dropped under the lock anyway; skipping the
  // cross-process lock for it keeps quiet logging cheap. The result stays
  // that of a successful wait.
  if (GetLevel() < level) return true;
  platform::NamedMutex* mutex = g_mutex.load();
  if (mutex == nullptr) return false;
  platform::WaitResult wait = mutex->Lock(kMutexWaitMs);
  if (wait != platform::WaitResult::kAcquired) return false;
  try {
    WriteLine(message, level);
  } catch (...) {
    WriteError("Exception writing log statement!", nullptr, nullptr);
  }
  if (!mutex->Unlock()) {
    std::string text = "Could not write message to log file! : ";
    text.append(message);
    WriteError(text.c_str(), nullptr, nullptr);
  }
  return true;
}

bool QvLog::WriteLine(std::string_view message, int level) {
  if (GetLevel() < level) return false;
  // The failure entries of a rotation mirror into this log; they must not
  // try the rotation again (that would recurse without end).
  thread_local bool reporting_rotation = false;
  std::optional<uint64_t> size = platform::FileSize(kDebugLog);
  if (size && *size > g_limit.load() && !reporting_rotation) {
    reporting_rotation = true;
    Rotate();
    reporting_rotation = false;
  }

  auto [file, error] = platform::File::Open(kDebugLog, platform::OpenMode::kAppend);
  if (error != 0) return false;
  std::string line = Stamp();
  line.reserve(line.size() + message.size() + 3);
  line.append(": ").append(message).append("\n");
  return file.Write(line).ok();
}

void QvLog::Rotate() {
  platform::RemoveFile(kBackupLog);
  if (platform::RenameFile(kDebugLog, kBackupLog) == 0) return;
  platform::RemoveFile(kBackupLog);
  int error = platform::RenameFile(kDebugLog, kBackupLog);
  if (error == 0) return;

  WriteError("Could not move file!", kDebugLog, nullptr);
  char text[64];
  std::snprintf(text, sizeof text, "Error code = %d", error);
  WriteError(text, nullptr, nullptr);
  std::string reason = "Error string = " + platform::ErrorText(error);
  WriteError(reason.c_str(), nullptr, nullptr);
}

bool QvLog::WriteError(const char* message, const char* code, const char* details) {
  auto [file, error] = platform::File::Open(kErrorLog, platform::OpenMode::kAppend);
  if (error != 0) return false;
  if (code == nullptr) code = "Unknown";
  WriteString(message, code, 1);
  if (details != nullptr) WriteString(message, details, 1);

  std::string entry = message;
  entry.append("(ErrCode: ").append(code);
  if (details != nullptr) entry.append(" Details: ").append(details);
  entry.append(")\n");
  return file.Write(entry).ok();
}

bool QvLog::WriteString(std::string_view label, const char* text, int level) {
  return WriteString(label, std::string_view(text != nullptr ? text : ""), level);
}

bool QvLog::WriteString(std::string_view label, std::string_view text, int level) {
  if (!Wants(level)) return false;
  std::string line;
  line.reserve(label.size() + 2 + text.size());
  line.append(label).append(": ").append(text);
  return Write(line, level);
}

bool QvLog::WriteNumber(std::string_view label, long number, int level) {
  if (!Wants(level)) return false;
  std::string line(label);
  line.append(std::to_string(number));
  return Write(line, level);
}

bool QvLog::WritePair(std::string_view label, long first, long second, int level) {
  if (!Wants(level)) return false;
  std::string line(label);
  line.append(std::to_string(first)).append("/").append(std::to_string(second));
  return Write(line, level);
}
