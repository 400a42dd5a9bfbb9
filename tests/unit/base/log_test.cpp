#include "base/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <thread>
#include <vector>

#include "platform/file_lock.h"
#include "platform/thread.h"
#include "support/child_process.h"
#include "support/net_environment.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

class LogTest : public ::testing::Test {
 protected:
  // The log reads its settings when constructed.
  QvLog* Open(const std::string& settings) {
    WriteIni(settings);
    QvLog::ReleaseInstance();
    return QvLog::GetInstance();
  }
  static Lines Messages(const char* file = "QvDebug.log") { return LogMessages(file); }

  ScopedWorkDir dir;
};

}  // namespace

TEST_F(LogTest, StampsEachLineWithTimeAndThread) {
  ASSERT_TRUE(Open("LogLevel=3\n")->Write("login OK.", 3));
  char tail[64];
  std::snprintf(tail, sizeof tail, " \\(%6d\\): login OK\\.\n",
                static_cast<int>(platform::CurrentThreadId()));
  const std::regex line(R"(\d\d:\d\d:\d\d \d\d/\d\d/\d{4})" + std::string(tail));
  EXPECT_TRUE(std::regex_match(ReadText("QvDebug.log"), line)) << ReadText("QvDebug.log");
}

TEST_F(LogTest, WritesComposedLinesOfLevelsUpToLogLevel) {
  EXPECT_TRUE(Open("")->Write("nothing", 1));  // filtered out, still a success
  EXPECT_FALSE(fs::exists("QvDebug.log"));

  QvLog* log = Open("LogLevel=3\n");
  log->Write("one", 1);
  log->WriteString("three", "x", 3);
  log->WriteString("label", static_cast<const char*>(nullptr), 3);
  log->WriteNumber("recv nRet ", 512, 3);
  EXPECT_TRUE(log->Write("four", 4));
  log->WritePair("four:", 1, 2, 4);
  EXPECT_EQ(log->SetLevel(4), 3);
  log->WritePair("ClientThread clientCount/socket:", 3, 1872, 4);
  log->WriteNumber("GetUrlData returned ", -1, 4);
  EXPECT_EQ(Messages(),
            (Lines{"one", "three: x", "label: ", "recv nRet 512",
                   "ClientThread clientCount/socket:3/1872", "GetUrlData returned -1"}));
}

TEST_F(LogTest, ResetEmptiesBothFilesAtEveryConstruction) {
  WriteText("QvDebug.log", "old trace\n");
  WriteText("QvErrLog.log", "old error\n");
  Open("LogReset=1\n");
  EXPECT_EQ(ReadText("QvDebug.log") + ReadText("QvErrLog.log"), "");
  WriteText("QvDebug.log", "again\n");
  Open("LogReset=1\n");
  EXPECT_EQ(ReadText("QvDebug.log"), "");
}

TEST_F(LogTest, RotatesOnlyAFileStrictlyLargerThanTheLimit) {
  QvLog* log = Open("LogLevel=1\nLogLimit=2\n");
  const std::string exactly(2097152, 'a');
  WriteText("QvDebug.log", exactly);
  WriteText("QvDebuglog.bak", "previous generation");
  log->Write("first", 1);  // exactly at the limit: not rotated
  EXPECT_EQ(ReadText("QvDebug.log").compare(0, exactly.size(), exactly), 0);
  EXPECT_EQ(ReadText("QvDebuglog.bak"), "previous generation");
  log->Write("second", 1);  // now larger: rotated before this line
  EXPECT_EQ(Messages(), (Lines{"second"}));
  EXPECT_EQ(ReadText("QvDebuglog.bak").substr(0, exactly.size()), exactly);
}

// The error entries of a failed rotation must not rotate (and recurse) again.
TEST_F(LogTest, FailedRotationWritesErrorEntriesAndKeepsLogging) {
  QvLog* log = Open("LogLevel=1\nLogLimit=1\n");
  WriteText("QvDebug.log", std::string(1048577, 'a'));
  fs::create_directory("QvDebuglog.bak");
  WriteText("QvDebuglog.bak/pin", "a directory that is not empty cannot be replaced");
  log->Write("after", 1);

  const std::string errors = ReadText("QvErrLog.log");
  EXPECT_EQ(errors.find("Could not move file!(ErrCode: QvDebug.log)\n"), 0u) << errors;
  for (const char* part : {"Error code = ", "Error string = ", "(ErrCode: Unknown)"}) {
    EXPECT_TRUE(Contains(errors, part));
  }
  const std::string trace = ReadText("QvDebug.log");
  EXPECT_TRUE(Contains(trace, ": Could not move file!: QvDebug.log\n"));
  EXPECT_TRUE(trace.ends_with(": after\n"));
}

TEST_F(LogTest, DropsTheLineWhenTheMutexIsHeldForFiveSeconds) {
  QvLog* log = Open("LogLevel=1\n");
  platform::FileLock other_process("LOG_MUTEX.lock");
  ASSERT_TRUE(other_process.LockFor(0));
  EXPECT_FALSE(log->Write("dropped", 1));
  other_process.Unlock();
  EXPECT_TRUE(log->Write("kept", 1));
  EXPECT_EQ(Messages(), (Lines{"kept"}));
}

// Two processes and threads in each write and rotate one log: every line is
// whole, and each rotation happened once, at the limit.
TEST_F(LogTest, ProcessesAndThreadsNeverInterleaveOrDoubleRotate) {
  constexpr int kLines = 2500;
  constexpr int kPad = 100;
  Open("LogLevel=1\nLogLimit=1\n");
  auto child = ChildProcess::Start(
      QVCORE_CHILD, {"log", "child", "3", std::to_string(kLines), std::to_string(kPad)},
      "child.out");
  ASSERT_TRUE(child);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([t] {
      const std::string pad(kPad, 'x');
      for (int i = 0; i < kLines; ++i) {
        QvLog::GetInstance()->Write(
            "self-" + std::to_string(t) + "-" + std::to_string(i) + " " + pad, 1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  // A deadlock is what this looks for: it must fail, not hang.
  ASSERT_EQ(child->WaitFor(std::chrono::seconds(60)), 0)
      << "the other process failed or hangs: " << ReadText("child.out");

  const std::regex message("(self|child)-[0-2]-\\d+ x{100}");
  for (const char* file : {"QvDebuglog.bak", "QvDebug.log"}) {
    for (const std::string& text : Messages(file)) {
      EXPECT_TRUE(std::regex_match(text, message)) << file << ": " << text;
    }
  }
  const uintmax_t limit = 1u << 20, longest_line = 160;
  EXPECT_GT(fs::file_size("QvDebuglog.bak"), limit);
  EXPECT_LE(fs::file_size("QvDebuglog.bak"), limit + longest_line);
  EXPECT_LE(fs::file_size("QvDebug.log"), limit + longest_line);
}
