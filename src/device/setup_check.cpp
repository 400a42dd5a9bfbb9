#include "device/setup_check.h"

#include <cstdint>
#include <optional>

#include "base/settings.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/path.h"

namespace {

constexpr char kPemCertificate[] = "-----BEGIN CERTIFICATE-----";
constexpr uint64_t kCaFileLimit = 16u << 20;

bool IsUnset(const std::string& value) { return value.empty() || value == "0"; }

}  // namespace

std::vector<std::string> SetupProblems() {
  QvSettings* settings = QvSettings::GetInstance();
  std::vector<std::string> problems;
  const std::string root = settings->AppPath();
  if (IsUnset(root)) {
    problems.push_back("no web root: AppPath is not set in vane.ini");
  } else if (int error = platform::CheckReadableDirectory(platform::NativePath(root)); error != 0) {
    problems.push_back("web root " + root + " cannot be read: " + platform::ErrorText(error));
  }
  const std::string ca_file = settings->BrokerCAFile();
  if (IsUnset(ca_file)) return problems;
  const std::string path = platform::NativePath(ca_file);
  std::optional<uint64_t> size = platform::FileSize(path);
  std::optional<std::string> text;
  if (size && *size <= kCaFileLimit) text = platform::ReadWholeFile(path);
  if (!text) {
    problems.push_back("BrokerCAFile " + ca_file + " cannot be read");
  } else if (text->find(kPemCertificate) == std::string::npos) {
    problems.push_back("BrokerCAFile " + ca_file + " holds no PEM certificate");
  }
  return problems;
}
