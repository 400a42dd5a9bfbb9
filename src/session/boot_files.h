// The boot instruction files a boot helper reads when the device quits for
// an upgrade: ".\boot\bootspec.vnb", whose first line holds the key, and
// ".\boot\bootseq.vnb", a run of encoded instruction records, each ended by
// one zero byte. The sequence file only grows; emptying it is the boot
// helper's business.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

inline constexpr char kBootSpecPath[] = ".\\boot\\bootspec.vnb";
inline constexpr char kBootSeqPath[] = ".\\boot\\bootseq.vnb";
// The exit code in full: a process exit status keeps only 8 bits of it.
inline constexpr char kBootExitCodePath[] = ".\\boot\\bootexit.txt";

class BootFile {
 public:
  BootFile() = default;
  ~BootFile() { Close(); }
  BootFile(const BootFile&) = delete;
  BootFile& operator=(const BootFile&) = delete;

  // With create: binary read and write, made empty when missing; without:
  // read and write as text, and the file must exist. 0, or -1.
  int Open(std::string_view path, bool create);
  int Close();

 protected:
  std::string path_;
  std::FILE* file_ = nullptr;
};

class BootSpecReader : public BootFile {
 public:
  // 0, or -1 when the file ends before the first line feed.
  int Read();
  // The first line's 14th character as a signed byte, else 9.
  int Key() const;

 private:
  std::string first_line_;
  std::string second_line_;  // read, not used
};

class BootSeqWriter : public BootFile {
 public:
  void SetKey(int key) { key_ = key; }
  // Appends one encoded record; the bytes written (the zero included), or
  // -1 without a first name. second is used for the types that have one.
  int WriteLine(char type, const char* first, const char* second, char end);

 private:
  int key_ = 9;
};

// Adds (key mod 10) + 23 to every byte; the remainder keeps the key's sign.
std::string EncodeBootText(std::string_view text, int key);

// The size of bootseq.vnb in bytes, or -1 when it cannot be examined.
int64_t BootSequenceSize();
