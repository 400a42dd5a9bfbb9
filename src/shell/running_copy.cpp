#include "shell/running_copy.h"

#include <string_view>

#include "platform/file.h"
#include "platform/path.h"
#include "platform/window_endpoint.h"
#include "shell/shell.h"

namespace shell {
namespace {

constexpr uint64_t kFileLimit = 4096;
constexpr std::string_view kPagePrefix = "http://127.0.0.1:";

std::string FilePath() {
  return platform::NativePath(platform::SessionDirectory() + "\\" + kWindowTitle + ".page");
}

}  // namespace

void RecordStartPage(const RunningCopy& copy) {
  platform::ReplaceFileAtomically(FilePath(), copy.start_page + "\n" + copy.work + "\n",
                                  platform::NewFileAccess::kOwnerOnly);
}

void ForgetStartPage() { platform::RemoveFile(FilePath()); }

std::optional<RunningCopy> ReadRunningCopy() {
  const std::string path = FilePath();
  std::optional<uint64_t> size = platform::FileSize(path);
  if (!size || *size > kFileLimit) return std::nullopt;
  std::optional<std::string> text = platform::ReadWholeFile(path);
  if (!text) return std::nullopt;
  const size_t first = text->find('\n');
  const size_t second = first == std::string::npos ? first : text->find('\n', first + 1);
  if (second == std::string::npos) return std::nullopt;
  RunningCopy copy{text->substr(0, first), text->substr(first + 1, second - first - 1)};
  // Only an address of this machine's own server is passed on.
  if (!copy.start_page.starts_with(kPagePrefix)) return std::nullopt;
  for (char c : copy.start_page.substr(kPagePrefix.size())) {
    if (!(c >= '0' && c <= '9') && c != '/' && c != '.' && (c < 'a' || c > 'z')) {
      return std::nullopt;
    }
  }
  return copy;
}

}  // namespace shell
