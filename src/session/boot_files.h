// The boot instruction files a boot helper reads when the device quits for
// an upgrade: ".\boot\bootspec.vnb", whose first line holds the key, and
// ".\boot\bootseq.vnb", a run of encoded instruction records, each ended by
// one zero byte. The sequence file only grows; emptying it is the boot
// helper's business.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/random_access_file.h"

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

  // Read and write; with create, made empty (owner only) when missing,
  // without it the file must exist. A link in the file's place is never
  // followed: someone else could plant one where the boot helper looks.
  // 0, or -1.
  int Open(std::string_view path, bool create);
  int Close();

 protected:
  std::string path_;
  platform::RandomAccessFile file_;
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
  int Key() const { return key_; }
  // Appends one encoded record; the bytes written (the zero included), or
  // -1 without a first name or for a text that FitsBootRecord refuses.
  // second is used for the types that have one.
  int WriteLine(char type, const char* first, const char* second, char end);

 private:
  int key_ = 9;
};

// Adds (key mod 10) + 23 to every byte; the remainder keeps the key's sign.
std::string EncodeBootText(std::string_view text, int key);

// An instruction's text before encoding: "T first second E" ("T first E"
// without a second name).
std::string BootText(char type, const char* first, const char* second, char end);
// Whether text travels whole in one record: at most 255 characters, and no
// byte that the key turns into zero, which would end the record there and
// hand the boot helper a cut instruction.
bool FitsBootRecord(std::string_view text, int key);

// The size of bootseq.vnb in bytes, or -1 when it cannot be examined (also
// when a link or anything but a file stands in its place).
int64_t BootSequenceSize();
