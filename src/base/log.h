// QvLog: the one trace log of the process. Lines go to "QvDebug.log" in the
// working directory, stamped with local time and thread; the log's own
// failures go to "QvErrLog.log". Every line is serialised by the named mutex
// "LOG_MUTEX", shared with the other deliverable's copy of this log, so both
// processes append to one file and rotate it ("QvDebuglog.bak") in turn.
//
// A name of ours that holds a pipe or a device instead of a file is refused
// by the file layer, never opened (that would block): the log says so once
// per name, at level 1.
//
// Levels: 1 failures and important events, 2 start-up summary, 3 trace,
// 4 verbose. A line is written when its level is at most LogLevel (0 = off).
// Under systemd (standard error is the journal's stream) level-1 lines also
// go to standard error, whatever LogLevel says.
//
// Callers fetch the instance with GetInstance each time. ReleaseInstance
// makes the next GetInstance construct afresh (settings read again); the
// storage itself lives for the whole process, so a thread that still holds
// the pointer never touches freed memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

class QvLog {
 public:
  static QvLog* GetInstance();
  static void ReleaseInstance();

  bool Write(std::string_view message, int level);
  // Write's two halves, for a caller that rations what reaches the journal:
  // the file alone, and the journal alone (level 1 under systemd).
  bool WriteFile(std::string_view message, int level);
  void WriteJournal(std::string_view message, int level);
  // label ": " text; a null text prints as empty.
  bool WriteString(std::string_view label, const char* text, int level);
  bool WriteString(std::string_view label, std::string_view text, int level);
  // label immediately followed by the number.
  bool WriteNumber(std::string_view label, long number, int level);
  // label, first "/" second, no blanks.
  bool WritePair(std::string_view label, long first, long second, int level);
  // An error-log entry; a null code shows as "Unknown".
  bool WriteError(const char* message, const char* code, const char* details);

  int GetLevel() const { return level_.load(std::memory_order_relaxed); }
  // Whether a line of this level goes anywhere: the file or the journal.
  bool Wants(int level) const;
  int SetLevel(int level) { return level_.exchange(level); }
  static void CreateMutex();

 private:
  QvLog() = default;
  static QvLog& Storage();
  void Construct();
  bool WriteLine(std::string_view message, int level);
  static void ReportRefusedFile(const std::string& path);
  void Rotate();
  static void Reset();

  std::atomic<int> level_{0};
};
