#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "platform/socket.h"

extern char** environ;

namespace {

int OpenPidfd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

std::vector<char*> Argv(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::string& program,
                                                  const std::vector<std::string>& args,
                                                  const std::filesystem::path& log) {
  if (::access(program.c_str(), X_OK) != 0) return nullptr;
  std::vector<char*> argv = Argv(program, args);
  const std::string log_path = log.string();
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) return nullptr;
  if (pid == 0) {
    // A test that dies must not leave its peers running.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    int out = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (out < 0 || in < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0) {
      ::_exit(127);
    }
    // Whatever the test runner left open must not reach the program: it
    // would run differently here than on a machine that leaves nothing.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execve(program.c_str(), argv.data(), environ);
    ::_exit(127);
  }
  return std::unique_ptr<ChildProcess>(new ChildProcess(pid, OpenPidfd(pid)));
}

ChildProcess::~ChildProcess() {
  Stop();
  if (pidfd_ >= 0) ::close(pidfd_);
}

std::optional<int> ChildProcess::WaitFor(std::chrono::milliseconds timeout) {
  if (status_) return status_;
  if (pidfd_ >= 0) {
    pollfd item{pidfd_, POLLIN, 0};
    int n;
    do {
      n = ::poll(&item, 1, static_cast<int>(timeout.count()));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return std::nullopt;
  } else if (!WaitUntil([this] { return !Running(); }, timeout)) {
    return std::nullopt;
  }
  int status = 0;
  if (::waitpid(pid_, &status, 0) == pid_) status_ = DecodeStatus(status);
  return status_;
}

bool ChildProcess::Running() {
  if (status_) return false;
  int status = 0;
  pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == pid_) {
    status_ = DecodeStatus(status);
    return false;
  }
  return done == 0;
}

int ChildProcess::Stop(std::chrono::milliseconds grace) {
  if (status_) return *status_;
  ::kill(pid_, SIGTERM);
  if (std::optional<int> status = WaitFor(grace)) return *status;
  ::kill(pid_, SIGKILL);
  return WaitFor(std::chrono::seconds(10)).value_or(-1);
}

std::string FindProgram(const std::vector<std::string>& candidates) {
  for (const std::string& candidate : candidates) {
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::string();
}
