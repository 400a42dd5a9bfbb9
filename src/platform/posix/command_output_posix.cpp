#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/command_output.h"
#include "platform/posix/spawn_attributes.h"

extern char** environ;

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads until end of file, more than limit bytes, an error or the deadline.
bool ReadAll(int fd, size_t limit, Clock::time_point deadline, std::string* out) {
  char buffer[1024];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    int polled = ::poll(&ready, 1, MillisecondsLeft(deadline));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (out->size() + static_cast<size_t>(n) > limit) return false;
    out->append(buffer, static_cast<size_t>(n));
  }
}

// The child's exit status once it ended before the deadline; else kills
// and reaps it and gives -1.
int Reap(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  for (;;) {
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 && errno != EINTR) return -1;
    if (Clock::now() >= deadline) break;
    timespec pause{0, 2'000'000};
    ::nanosleep(&pause, nullptr);
  }
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return -1;
}

}  // namespace

std::optional<std::string> CommandOutput(const std::string& program,
                                         const std::vector<std::string>& args, size_t limit,
                                         std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0) return std::nullopt;

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
  ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const CleanSpawnAttributes attributes;
  pid_t pid = 0;
  int error =
      ::posix_spawnp(&pid, program.c_str(), &actions, attributes.get(), argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_ends[1]);
  if (error != 0) {
    ::close(pipe_ends[0]);
    return std::nullopt;
  }
  std::string output;
  const bool complete = ReadAll(pipe_ends[0], limit, deadline, &output);
  ::close(pipe_ends[0]);
  const int status = Reap(pid, complete ? deadline : Clock::now());
  if (!complete || status != 0) return std::nullopt;
  return output;
}

}  // namespace platform
