#include "recorder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace qvbroker {

Recorder::Recorder(std::string directory) : directory_(std::move(directory)) {}

std::string Recorder::Prepare() {
  if (directory_.empty()) return {};
  std::error_code ec;
  std::filesystem::create_directories(directory_, ec);
  if (!std::filesystem::is_directory(directory_)) return "cannot create " + directory_;
  return {};
}

std::string Recorder::FileName(unsigned number, bool tls) {
  char name[40];
  std::snprintf(name, sizeof name, "%06u-%s.req", number, tls ? "tls" : "plain");
  return name;
}

unsigned Recorder::Add(bool tls, uint16_t port, std::string bytes) {
  std::lock_guard lock(mutex_);
  unsigned number = static_cast<unsigned>(requests_.size()) + 1;
  if (!directory_.empty()) {
    // Written under the lock so that files appear in number order.
    std::ofstream file(std::filesystem::path(directory_) / FileName(number, tls),
                       std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  requests_.push_back({number, tls, port, std::move(bytes), "pending"});
  return number;
}

void Recorder::SetOutcome(unsigned number, std::string outcome) {
  std::lock_guard lock(mutex_);
  if (number >= 1 && number <= requests_.size()) requests_[number - 1].outcome = std::move(outcome);
}

std::string Recorder::List() const {
  std::lock_guard lock(mutex_);
  std::string out;
  for (const auto& r : requests_) {
    std::string_view line(r.bytes);
    line = line.substr(0, line.find('\n'));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string printable;
    for (char c : line) printable.push_back(static_cast<unsigned char>(c) < 0x20 ? '.' : c);
    out += std::to_string(r.number) + " " + (r.tls ? "tls " : "plain ") + std::to_string(r.port) +
           " " + std::to_string(r.bytes.size()) + " " + r.outcome + " " + printable + "\n";
  }
  return out;
}

std::optional<std::string> Recorder::Bytes(unsigned number) const {
  std::lock_guard lock(mutex_);
  if (number < 1 || number > requests_.size()) return std::nullopt;
  return requests_[number - 1].bytes;
}

}  // namespace qvbroker
