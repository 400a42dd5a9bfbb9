#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/posix/spawn_attributes.h"
#include "platform/process.h"

extern char** environ;

namespace platform {

SysResult<std::optional<Process>> Process::Start(const std::string& program,
                                                 const std::vector<std::string>& args,
                                                 const std::string& argv0) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(argv0.empty() ? program.c_str() : argv0.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const CleanSpawnAttributes attributes;
  pid_t pid = 0;
  int error = ::posix_spawn(&pid, program.c_str(), nullptr, attributes.get(), argv.data(), environ);
  if (error != 0) return {std::nullopt, error};
  return {Process(pid), 0};
}

int Process::Wait() {
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

void Process::Release() {
  std::thread([process = *this]() mutable { process.Wait(); }).detach();
}

std::string ProgramDirectory() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string program(path, static_cast<size_t>(n));
  size_t slash = program.rfind('/');
  return slash == std::string::npos ? "." : program.substr(0, slash);
}

void ExitProcess(int code) { ::_exit(code); }

}  // namespace platform
