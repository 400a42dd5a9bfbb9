#include "session/boot_files.h"

#include "platform/file.h"
#include "platform/path.h"

namespace {

constexpr size_t kLineMax = 255;

// Reads up to a line feed; false at 0xFF or the end of the file, which the
// original reading cannot tell apart.
bool ReadLine(std::FILE* file, std::string& line) {
  for (;;) {
    int c = std::fgetc(file);
    if (c == EOF || c == 0xFF) return false;
    if (c == '\n') return true;
    if (line.size() < kLineMax) line.push_back(static_cast<char>(c));
  }
}

}  // namespace

int BootFile::Open(std::string_view path, bool create) {
  Close();
  path_ = std::string(path);
  const std::string native = platform::NativePath(path);
  if (create) {
    file_ = std::fopen(native.c_str(), "r+b");
    if (file_ == nullptr) file_ = std::fopen(native.c_str(), "w+b");
  } else {
    file_ = std::fopen(native.c_str(), "r+");
  }
  return file_ != nullptr ? 0 : -1;
}

int BootFile::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  path_.clear();
  return 0;
}

int BootSpecReader::Read() {
  first_line_.clear();
  second_line_.clear();
  if (file_ == nullptr) return -1;
  if (!ReadLine(file_, first_line_)) return -1;
  ReadLine(file_, second_line_);
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

int BootSeqWriter::WriteLine(char type, const char* first, const char* second, char end) {
  if (first == nullptr) return -1;
  std::string text(1, type);
  text.append(" ").append(first).append(" ");
  if (second != nullptr) text.append(second).append(" ");
  text.push_back(end);
  if (text.size() > kLineMax) text.resize(kLineMax);
  std::string record = EncodeBootText(text, key_);
  // A byte that encodes to zero ends the record there.
  record.resize(std::string_view(record.c_str()).size() + 1);
  if (file_ == nullptr) return -1;
  std::fseek(file_, 0, SEEK_END);
  const size_t written = std::fwrite(record.data(), 1, record.size(), file_);
  std::fflush(file_);
  std::fseek(file_, 0, SEEK_SET);
  return static_cast<int>(written);
}

int64_t BootSequenceSize() {
  std::optional<uint64_t> size = platform::FileSize(platform::NativePath(kBootSeqPath));
  return size ? static_cast<int64_t>(*size) : -1;
}
