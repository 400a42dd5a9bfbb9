// Child programs on Windows: CreateProcess with the output appended to the
// log, a job object that ends them when the test process dies, and
// TerminateProcess to stop them (a console program has no SIGTERM).
#include <windows.h>

#include <cstdio>
#include <thread>

#include "platform/socket.h"
#include "platform/win32/command_line.h"
#include "support/child_process.h"

static_assert(sizeof(HANDLE) <= sizeof(int), "the header keeps the process handle in an int");

namespace {

HANDLE Handle(int value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }

// Every child joins one job that is killed when its last handle (ours)
// closes, so a test that dies leaves no peers running.
HANDLE TestJob() {
  static HANDLE job = [] {
    HANDLE made = ::CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return made;
  }();
  return job;
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::string& program,
                                                  const std::vector<std::string>& args,
                                                  const std::filesystem::path& log) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out = ::CreateFileA(log.string().c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE in = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE || in == INVALID_HANDLE_VALUE) {
    if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    if (in != INVALID_HANDLE_VALUE) ::CloseHandle(in);
    return nullptr;
  }
  std::string line;
  platform::AppendQuotedArgument(line, program);
  for (const std::string& arg : args) {
    line += ' ';
    platform::AppendQuotedArgument(line, arg);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION started{};
  BOOL ok = ::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                             nullptr, nullptr, &startup, &started);
  ::CloseHandle(out);
  ::CloseHandle(in);
  if (!ok) return nullptr;
  ::AssignProcessToJobObject(TestJob(), started.hProcess);
  ::ResumeThread(started.hThread);
  ::CloseHandle(started.hThread);
  return std::unique_ptr<ChildProcess>(
      new ChildProcess(static_cast<int>(started.dwProcessId),
                       static_cast<int>(reinterpret_cast<intptr_t>(started.hProcess))));
}

ChildProcess::~ChildProcess() {
  Stop();
  ::CloseHandle(Handle(pidfd_));
}

std::optional<int> ChildProcess::WaitFor(std::chrono::milliseconds timeout) {
  if (status_) return status_;
  if (::WaitForSingleObject(Handle(pidfd_), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  if (::GetExitCodeProcess(Handle(pidfd_), &code)) status_ = static_cast<int>(code);
  return status_;
}

bool ChildProcess::Running() { return !WaitFor(std::chrono::milliseconds(0)).has_value(); }

int ChildProcess::Stop(std::chrono::milliseconds /*grace*/) {
  if (status_) return *status_;
  // 143: what a stop by SIGTERM reports on POSIX.
  ::TerminateProcess(Handle(pidfd_), 143);
  return WaitFor(std::chrono::seconds(10)).value_or(-1);
}

std::string FindProgram(const std::vector<std::string>& candidates) {
  for (const std::string& candidate : candidates) {
    if (::GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
  }
  return std::string();
}
