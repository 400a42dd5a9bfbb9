// Starting another program and waiting for it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/sys_result.h"

namespace platform {

class Process {
 public:
  // Starts program with args (argv[1..]) and argument zero argv0 (the
  // program when empty); the child inherits the environment and the working
  // directory, but no blocked signals. Error number on failure.
  static SysResult<std::optional<Process>> Start(const std::string& program,
                                                 const std::vector<std::string>& args,
                                                 const std::string& argv0 = "");

  // Blocks until the child ends; its exit code, or 128+signal.
  int Wait();
  // Lets the child run on; a thread of its own waits for it, so that it
  // leaves nothing behind when it ends.
  void Release();
  int pid() const { return pid_; }

 private:
  explicit Process(int pid) : pid_(pid) {}
  int pid_;
};

// Ends the process at once with code (the status keeps its low 8 bits):
// no exit handlers, no destructors, other threads stop where they are.
[[noreturn]] void ExitProcess(int code);

// The directory holding the running program.
std::string ProgramDirectory();

}  // namespace platform
