#include "session/boot_files.h"

#include <optional>

#include "platform/file.h"
#include "platform/path.h"

namespace {

constexpr size_t kLineMax = 255;
// Both lines and their line feeds, even when each is longer than it keeps.
constexpr int64_t kSpecReadMax = 4096;

// Takes a line up to its line feed; false at 0xFF or the end of the text,
// which the original reading cannot tell apart.
bool TakeLine(std::string_view& text, std::string& line) {
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == 0xFF) return false;
    if (c == '\n') {
      text.remove_prefix(i + 1);
      return true;
    }
    if (line.size() < kLineMax) line.push_back(static_cast<char>(c));
  }
  return false;
}

}  // namespace

int BootFile::Open(std::string_view path, bool create) {
  Close();
  path_ = std::string(path);
  const std::string native = platform::NativePath(path);
  auto opened = create ? platform::RandomAccessFile::OpenOrCreate(native)
                       : platform::RandomAccessFile::OpenExisting(native);
  if (!opened.ok()) return -1;
  file_ = std::move(opened.value);
  return 0;
}

int BootFile::Close() {
  file_.Close();
  path_.clear();
  return 0;
}

int BootSpecReader::Read() {
  first_line_.clear();
  second_line_.clear();
  if (!file_.is_open()) return -1;
  std::string bytes(kSpecReadMax, '\0');
  auto read = file_.ReadAt(0, bytes.data(), kSpecReadMax);
  bytes.resize(read.ok() ? static_cast<size_t>(read.value) : 0);
  std::string_view text = bytes;
  if (!TakeLine(text, first_line_)) return -1;
  TakeLine(text, second_line_);
  return 0;
}

int BootSpecReader::Key() const {
  if (first_line_.size() <= 13) return 9;
  return static_cast<signed char>(first_line_[13]);
}

std::string EncodeBootText(std::string_view text, int key) {
  const int offset = key % 10 + 23;
  std::string encoded(text);
  for (char& c : encoded) c = static_cast<char>(static_cast<unsigned char>(c) + offset);
  return encoded;
}

std::string BootText(char type, const char* first, const char* second, char end) {
  std::string text(1, type);
  text.append(" ").append(first != nullptr ? first : "").append(" ");
  if (second != nullptr) text.append(second).append(" ");
  text.push_back(end);
  return text;
}

bool FitsBootRecord(std::string_view text, int key) {
  if (text.size() > kLineMax) return false;
  return EncodeBootText(text, key).find('\0') == std::string::npos;
}

int BootSeqWriter::WriteLine(char type, const char* first, const char* second, char end) {
  if (first == nullptr) return -1;
  const std::string text = BootText(type, first, second, end);
  if (!FitsBootRecord(text, key_)) return -1;
  std::string record = EncodeBootText(text, key_);
  record.push_back('\0');
  if (!file_.is_open()) return -1;
  auto size = file_.Size();
  if (!size.ok()) return -1;
  if (!file_.WriteAt(size.value, record.data(), static_cast<int64_t>(record.size())).ok()) {
    return -1;
  }
  return static_cast<int>(record.size());
}

int64_t BootSequenceSize() {
  std::optional<uint64_t> size = platform::RegularFileSize(platform::NativePath(kBootSeqPath));
  return size ? static_cast<int64_t>(*size) : -1;
}
