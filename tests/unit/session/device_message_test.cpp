// The pieces of device messages that need no broker.
#include "session/device_message.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/log.h"
#include "device/device.h"
#include "device/module_entry.h"
#include "session/boot_files.h"
#include "session/exit_with_instructions.h"
#include "support/work_dir.h"

#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace {

// "a=b&c=d" as the heartbeat hands it over: zero bytes for '=' and '&'.
std::string ZeroRun(std::string pairs) {
  for (char& c : pairs) {
    if (c == '=' || c == '&') c = '\0';
  }
  return pairs;
}

}  // namespace

TEST(DeviceMessage, FieldsComeFromTheMessageItselfNeverTheNext) {
  const std::string run =
      ZeroRun("messageType=ConfigSetting&key=LogLevel&value=4&messageType=Test&messageSID=9");
  const std::string_view own = OwnMessage(run);
  EXPECT_EQ(MessageQuery(own), "messageType=ConfigSetting&key=LogLevel&value=4");
  EXPECT_FALSE(GetMessageSID(own));  // the next message's SID is not this one's
  EXPECT_EQ(GetMessageSID(run).value_or("-"), "9");
  const std::string value = ZeroRun("messageType=A&note=messageType&messageSID=5");
  EXPECT_EQ(OwnMessage(value).size(), value.size());  // a value does not start a message

  struct Case {
    std::string pairs, name;
    const char* expected;  // null: no such field
  } cases[] = {
      {"messageType=messageSID&x=1", "messageSID", "x"},  // the type is a token like any other
      {"messageType=DeviceSID&deviceSID=", "deviceSID", ""},
      {"messageType=DeviceSID&deviceSID", "deviceSID", nullptr},  // nothing follows
      {"messageType=A&k=1&k=2", "k", "1"},                        // the first one wins
      {"messageType", "messageType", nullptr},
  };
  for (const Case& c : cases) {
    const std::string run = ZeroRun(c.pairs);  // the field is a view into it
    const auto field = GetMessageField(run, c.name);
    if (c.expected == nullptr) {
      EXPECT_FALSE(field) << c.pairs;
    } else {
      EXPECT_EQ(field.value_or("<none>"), c.expected) << c.pairs;
    }
  }
}

TEST(BootInstructions, EntriesUntilTheListEndsOrIsCutShort) {
  struct Case {
    std::string list;
    std::vector<std::string> expected;  // type, first, second, end per entry
  } cases[] = {
      {"M?*old*^*new*^Y|D?*name*^N", {"M*old**new*Y", "D*name*N"}},
      {"C:a^b^Z", {"CabZ"}},
      {"D?x^N|", {"DxN"}},       // a '|' with nothing after it ends the list
      {"D?x^N;D?y^N", {"DxN"}},  // anything but '|' ends it
      {"D?x^", {}},              // no end character: not written
      {"M?a^N", {}},             // a second name cut short
      {"D?noCaret", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    for (const BootInstruction& e : ParseBootInstructions(c.list)) {
      got.push_back(std::string(1, e.type) + e.first + e.second + std::string(1, e.end));
    }
    EXPECT_EQ(got, c.expected) << c.list;
  }
}

// The key comes from bootspec.vnb's 14th character ('7' gives the offset
// 28; without it the key is 9, offset 32); each record ends in one zero.
TEST(BootInstructions, TheSequenceFileGrowsByEncodedRecords) {
  ScopedWorkDir dir;
  std::filesystem::create_directory("boot");
  WriteText("boot/bootspec.vnb", "0123456789abc7 rest\nsecond line\n");
  const std::string message =
      ZeroRun("messageType=QuitWithInst&instructions=D?n^N|M?a^b^Y&messageSID=1");
  EXPECT_EQ(WriteBootInstructions(message).exit_code, 14);
  // "D n N" and "M a b Y", each byte plus 28.
  EXPECT_EQ(ReadText("boot/bootseq.vnb"), std::string("`<\x8A<j\0i<}<~<u\0", 14));
  EXPECT_EQ(WriteBootInstructions(message).exit_code, 28);  // appended, never replaced

  WriteText("boot/bootspec.vnb", "short line\n");
  std::filesystem::remove("boot/bootseq.vnb");
  EXPECT_EQ(WriteBootInstructions(ZeroRun("messageType=QuitWithInst&instructions=D?n^N")).exit_code,
            6);
  EXPECT_EQ(ReadText("boot/bootseq.vnb"), std::string("d@\x8E@n\0", 6));
  // With that key 0xE0 (a lead byte of UTF-8) encodes to the record's end,
  // and a record holds 255 characters: such entries are left out, whole.
  const BootWriteResult cut = WriteBootInstructions(ZeroRun(
      "messageType=QuitWithInst&instructions=D?caf\xE0^N|D?" + std::string(252, 'x') +
      "^N|D?m^N"));
  EXPECT_TRUE(cut.refused);
  EXPECT_EQ(cut.exit_code, 12);
  EXPECT_EQ(ReadText("boot/bootseq.vnb"), std::string("d@\x8E@n\0d@\x8D@n\0", 12));

  EXPECT_EQ(WriteBootInstructions(ZeroRun("messageType=QuitWithInst&messageSID=2")).exit_code, 0);
  std::filesystem::remove_all("boot");
  EXPECT_EQ(WriteBootInstructions(message).exit_code, -1);  // no boot folder
  std::filesystem::create_directory("boot");
  WriteText("elsewhere", "kept");
  std::filesystem::create_symlink("../elsewhere", "boot/bootseq.vnb");
  EXPECT_EQ(WriteBootInstructions(message).exit_code, -1);  // a planted link is not followed
  EXPECT_EQ(ReadText("elsewhere"), "kept");
}

// The quit takes every module before it ends the program; a call that never
// returns is waited for only so long, and named.
TEST(BootInstructions, AModuleThatNeverReturnsIsWaitedForOnlySoLong) {
  ScopedWorkDir dir;
  WriteText("vane.ini", IniText({{"LogLevel", "1"}, {"Modules", "QvHungModule.dll"}}));
  QvLog::ReleaseInstance();
  QvDevice device;
  device.BuildModuleList("$Revision: 1.0 $");
  QvModule* hung = device.FindModule("QvHungModule.dll");
  ASSERT_NE(hung, nullptr);
  hung->AcquireModule();  // its call never ends
  EXPECT_FALSE(TakeAllModules(device, 50));
  for (int i = 0; i < device.GetModuleCount(); ++i) {
    EXPECT_EQ(device.GetModule(i)->IsTaken(), device.GetModule(i) != hung) << i;
  }
  EXPECT_TRUE(
      Contains(ReadText("QvDebug.log"),
               "ExitWithInstructions: module still busy, not waited for: QvHungModule.dll\n"));
  hung->ReleaseModule();
  QvLog::ReleaseInstance();
}

#ifdef __linux__
namespace {

// A file nobody may open for writing, root included, for as long as it is
// held; the mark comes off before the working directory is removed.
class ImmutableFile {
 public:
  explicit ImmutableFile(const char* path) : fd_(::open(path, O_RDONLY | O_CLOEXEC)) {
    error_ = fd_ < 0 || !Mark(true) ? errno : 0;
  }
  ~ImmutableFile() {
    if (fd_ < 0) return;
    Mark(false);
    ::close(fd_);
  }
  ImmutableFile(const ImmutableFile&) = delete;
  ImmutableFile& operator=(const ImmutableFile&) = delete;
  int error() const { return error_; }

 private:
  bool Mark(bool on) {
    int flags = 0;
    if (::ioctl(fd_, FS_IOC_GETFLAGS, &flags) != 0) return false;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    return ::ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
  }
  int fd_;
  int error_;
};

}  // namespace

// A sequence file that stands but cannot be opened gets no line, and the
// exit code is still its size: the boot helper reads what the file holds.
TEST(BootInstructions, AFileThatCannotBeOpenedStillGivesItsSize) {
  ScopedWorkDir dir;
  std::filesystem::create_directory("boot");
  WriteText("boot/bootseq.vnb", "earlier");
  ImmutableFile held("boot/bootseq.vnb");
  ASSERT_EQ(held.error(), 0) << "cannot mark the file immutable: " << std::strerror(held.error());
  const std::string message = ZeroRun("messageType=QuitWithInst&instructions=D?n^N");
  EXPECT_EQ(WriteBootInstructions(message).exit_code, 7);
  EXPECT_EQ(ReadText("boot/bootseq.vnb"), "earlier");
}
#endif
