#include "support/peer_process.h"

#include "support/work_dir.h"

namespace fs = std::filesystem;

PeerProcess::PeerProcess(const std::string& prefix) : dir_(MakeTempDir(prefix)) {}

PeerProcess::~PeerProcess() {
  process_.reset();
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

bool PeerProcess::Launch(const std::string& program, const std::vector<std::string>& args,
                         const std::string& output, const std::function<bool()>& ready,
                         std::chrono::seconds timeout, const std::vector<std::string>& logs) {
  failure_.clear();
  process_ = ChildProcess::Start(program, args, dir_ / output);
  if (!process_) {
    failure_ = "cannot start " + program;
    return false;
  }
  const bool seen = WaitUntil([&] { return ready() || !process_->Running(); }, timeout);
  if (seen && process_->Running()) return true;
  failure_ = program + (seen ? " ended before it was ready" : " not ready in time") +
             "; its output:\n" + ReadText(dir_ / output);
  for (const std::string& log : logs) failure_ += "\n" + log + ":\n" + ReadText(dir_ / log);
  process_.reset();
  return false;
}
