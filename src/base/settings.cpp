#include "base/settings.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <limits>
#include <memory>

#include "base/bounded_copy.h"
#include "base/ini_file.h"
#include "base/log.h"
#include "base/qvcrypt.h"
#include "platform/file.h"
#include "platform/file_lock.h"
#include "platform/path.h"

namespace {

constexpr char kIniPath[] = ".\\vane.ini";
constexpr char kSection[] = "Quovane";
constexpr char kPassPhrase[] = "A Lantern by the Harbour";
// A writer that cannot get the lock in this time gives up (and logs it)
// rather than hang the thread; writes take milliseconds.
constexpr uint32_t kWriteLockWaitMs = 10000;
// The buffer a number's text is read through.
constexpr size_t kIntTextSize = 16;

std::optional<std::string> ReadValue(std::string_view key) {
  std::optional<std::string> text = platform::ReadWholeFile(platform::NativePath(kIniPath));
  if (!text) return std::nullopt;
  std::optional<std::string_view> value = IniFind(*text, kSection, key);
  if (!value) return std::nullopt;
  return std::string(*value);
}

// atoi without its undefined overflow: leading blanks, a sign, digits.
int LeadingInt(std::string_view text) {
  size_t i = text.find_first_not_of(" \t\n\v\f\r");
  if (i == std::string_view::npos) return 0;
  text.remove_prefix(i);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  long long value = 0;
  std::from_chars_result r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.ec == std::errc::result_out_of_range) {
    return text.front() == '-' ? std::numeric_limits<int>::min()
                               : std::numeric_limits<int>::max();
  }
  if (value > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (value < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

std::string Printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

}  // namespace

QvSettings::QvSettings() { CopyBounded(m_szPath, kIniPath); }

QvSettings& QvSettings::Storage() {
  static QvSettings instance;
  return instance;
}

// The object holds nothing but the constant path, so one instance serves the
// whole process and releasing it has nothing to undo; a pointer kept by
// another thread stays valid.
QvSettings* QvSettings::GetInstance() { return &Storage(); }

void QvSettings::ReleaseInstance() {}

int QvSettings::ReadSetting(std::string_view key, std::string_view def, char* dest,
                            size_t size, bool log) {
  if (log) QvLog::GetInstance()->WriteString("GetSetting, Key   = ", std::string(key).c_str(), 4);
  std::optional<std::string> value = ReadValue(key);
  return static_cast<int>(CopyBounded(dest, size, value ? std::string_view(*value) : def));
}

std::string QvSettings::Read(std::string_view key, size_t size) {
  std::optional<std::string> value = ReadValue(key);
  std::string text = value ? std::move(*value) : std::string("0");
  if (size > 0 && text.size() > size - 1) text.resize(size - 1);
  return text;
}

std::optional<std::string> QvSettings::GetSetting(std::string_view key) {
  std::string value = Read(key, 256);
  QvLog::GetInstance()->WriteString("GetSetting, Value = ", value, 4);
  if (value.empty() || value == " ") return std::nullopt;
  return value;
}

int QvSettings::GetSettingInt(std::string_view key, int def, bool log) {
  char text[kIntTextSize];
  int copied = ReadSetting(key, std::to_string(def), text, sizeof text, log);
  return LeadingInt(std::string_view(text, static_cast<size_t>(copied)));
}

std::vector<int> QvSettings::GetSettingInts(
    std::initializer_list<std::pair<std::string_view, int>> keys) {
  const std::string text =
      platform::ReadWholeFile(platform::NativePath(kIniPath)).value_or(std::string());
  std::vector<int> values;
  values.reserve(keys.size());
  for (const auto& [key, def] : keys) {
    const std::string fallback = std::to_string(def);
    std::string_view value = IniFind(text, kSection, key).value_or(fallback);
    // As GetSettingInt reads it: through a buffer of 16.
    values.push_back(LeadingInt(value.substr(0, kIntTextSize - 1)));
  }
  return values;
}

int QvSettings::GetSettingString(std::string_view key, char* dest, size_t size) {
  return ReadSetting(key, "0", dest, size, false);
}

int QvSettings::WriteSetting(std::string_view key, std::string_view value) {
  QvLog* log = QvLog::GetInstance();
  if (!IsStorableIniPair(key, value)) {
    log->WriteString("WriteSetting refused, unsafe key or value for key", Printable(key), 1);
    return -1;
  }
  const std::string path = platform::NativePath(kIniPath);
  platform::FileLock lock(path + ".lock");
  if (!lock.LockFor(kWriteLockWaitMs)) {
    log->WriteString("WriteSetting could not lock the settings file for key", std::string(key), 1);
    return -1;
  }
  std::optional<std::string> text = platform::ReadWholeFile(path);
  // Only a missing file starts empty: a file that is there but cannot be
  // read (out of descriptors, an I/O error) must not be replaced by one key.
  if (!text && platform::FileExists(path)) {
    log->WriteString("WriteSetting could not read the settings file for key", std::string(key), 1);
    return -1;
  }
  int error = platform::ReplaceFileAtomically(
      path, IniAssign(text.value_or(std::string()), kSection, key, value),
      platform::NewFileAccess::kOwnerOnly);
  if (error != 0) {
    log->WriteString("WriteSetting failed", platform::ErrorText(error), 1);
    return -1;
  }
  return 0;
}

long QvSettings::HeartbeatSleep(long def) {
  char text[16];
  int copied = ReadSetting("HeartbeatSleep", std::to_string(def), text, sizeof text, false);
  long value = std::strtol(std::string(text, static_cast<size_t>(copied)).c_str(), nullptr, 10);
  // A long has 32 bits on the original platform: larger texts saturate there,
  // and the heartbeat's limits then fall back to the default interval.
  return std::clamp<long>(value, std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max());
}

int QvSettings::XferRetryInterval() {
  std::optional<std::string> value = GetSetting("XferRetryInterval");
  return value ? LeadingInt(*value) : 0;
}

int QvSettings::TransactionFilter() {
  char text[16];
  ReadSetting("TransactionFilter", "all", text, sizeof text, false);
  std::string_view value(text);
  if (value.empty() || value == "all") return -2;
  if (value == "session") return -1;
  return LeadingInt(value);
}

void QvSettings::DeviceKey(char* dest, size_t size) {
  char stored[4096];
  GetSettingString("DeviceKey", stored, sizeof stored);
  auto plain = std::make_unique<char[]>(4096);
  plain[0] = plain[1] = plain[2] = plain[3] = '\0';
  try {
    const char* text = DecryptString(stored, plain.get(), kPassPhrase);
    CopyPadded(dest, size, text != nullptr ? text : "");
  } catch (const std::exception& e) {
    QvLog::GetInstance()->WriteString("error decrypting Setting!  Reason: ", e.what(), 1);
  }
}
