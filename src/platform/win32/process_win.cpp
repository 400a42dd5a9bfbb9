#include <windows.h>

#include <map>
#include <mutex>
#include <thread>

#include "platform/process.h"
#include "platform/win32/command_line.h"
#include "platform/win32/win_files.h"

namespace platform {
namespace {

// The handles of started children by id, kept until they are waited for or
// released, so that the id stays theirs and their exit code readable.
std::mutex g_children_lock;
std::map<int, HANDLE>& Children() {
  static auto* children = new std::map<int, HANDLE>();
  return *children;
}

HANDLE TakeChild(int pid) {
  std::lock_guard<std::mutex> lock(g_children_lock);
  auto found = Children().find(pid);
  if (found == Children().end()) return nullptr;
  HANDLE handle = found->second;
  Children().erase(found);
  return handle;
}

}  // namespace

void AppendQuotedArgument(std::string& line, const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    line += argument;
    return;
  }
  line += '"';
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      line.append(backslashes * 2 + 1, '\\');
    else
      line.append(backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

SysResult<std::optional<Process>> Process::Start(const std::string& program,
                                                 const std::vector<std::string>& args,
                                                 const std::string& argv0) {
  std::string line;
  AppendQuotedArgument(line, argv0.empty() ? program : argv0);
  for (const std::string& arg : args) {
    line += ' ';
    AppendQuotedArgument(line, arg);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
    return {std::nullopt, ErrnoFromWin32(::GetLastError())};
  }
  ::CloseHandle(started.hThread);
  const int pid = static_cast<int>(started.dwProcessId);
  {
    std::lock_guard<std::mutex> lock(g_children_lock);
    Children()[pid] = started.hProcess;
  }
  return {Process(pid), 0};
}

int Process::Wait() {
  HANDLE handle = TakeChild(pid_);
  if (handle == nullptr) return -1;
  ::WaitForSingleObject(handle, INFINITE);
  DWORD code = 0;
  int result = ::GetExitCodeProcess(handle, &code) ? static_cast<int>(code) : -1;
  ::CloseHandle(handle);
  return result;
}

void Process::Release() {
  // Nothing to reap on Windows: closing the handle lets the child run on.
  if (HANDLE handle = TakeChild(pid_)) ::CloseHandle(handle);
}

std::string ProgramDirectory() {
  char path[MAX_PATH + 1];
  DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return ".";
  std::string program(path, n);
  size_t slash = program.find_last_of("\\/");
  return slash == std::string::npos ? "." : program.substr(0, slash);
}

void ExitProcess(int code) {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
  for (;;) ::Sleep(INFINITE);
}

}  // namespace platform
