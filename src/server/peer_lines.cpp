#include "server/peer_lines.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/log.h"
#include "platform/clock.h"

namespace {

// Lines closer than this belong to one burst...
constexpr uint32_t kBurstGapMs = 1000;
// ...and a flood that never pauses is still counted once a minute.
constexpr uint32_t kLongestBurstMs = 60000;

constexpr size_t kKinds = static_cast<size_t>(PeerLine::kCount);

bool EveryLineToFile(PeerLine kind) { return kind < PeerLine::kNotServed; }

struct Counts {
  std::mutex lock;
  std::condition_variable changed;
  LineBurst bursts[kKinds];
  bool stop = false;
  std::thread thread;
};

// Lives as long as the process: detached client threads write to it.
Counts& TheCounts() {
  static auto* counts = new Counts();
  return *counts;
}

void WriteCount(PeerLine kind, const LineBurst::Count& count) {
  QvLog* log = QvLog::GetInstance();
  const std::string text = count.Text();
  if (!EveryLineToFile(kind)) log->WriteFile(text, count.level);
  log->WriteJournal(text, count.level);
}

using DueCounts = std::vector<std::pair<PeerLine, LineBurst::Count>>;

// Ends the bursts that are over (all of them when forced); the counts to
// write, and how long until the next one is due.
DueCounts EndBursts(Counts& counts, uint32_t now, bool force, std::optional<uint32_t>* next) {
  DueCounts due;
  for (size_t i = 0; i < kKinds; ++i) {
    if (auto count = counts.bursts[i].End(now, force)) {
      due.emplace_back(static_cast<PeerLine>(i), std::move(*count));
    }
    if (auto in = counts.bursts[i].DueIn(now); in && (!*next || *in < **next)) *next = in;
  }
  return due;
}

void CountLoop(Counts* counts) {
  std::unique_lock<std::mutex> hold(counts->lock);
  while (!counts->stop) {
    std::optional<uint32_t> next;
    DueCounts due = EndBursts(*counts, platform::TickCount(), false, &next);
    if (!due.empty()) {
      hold.unlock();
      for (const auto& [kind, count] : due) WriteCount(kind, count);
      hold.lock();
      continue;
    }
    if (next) {
      counts->changed.wait_for(hold, std::chrono::milliseconds(*next + 1));
    } else {
      counts->changed.wait(hold);
    }
  }
}

}  // namespace

std::string LineBurst::Count::Text() const {
  return first_line + " ... and " + std::to_string(more) + " more in " + std::to_string(seconds) +
         " s";
}

bool LineBurst::IsOver(uint32_t now) const {
  return now - last_ms_ >= kBurstGapMs || now - first_ms_ >= kLongestBurstMs;
}

bool LineBurst::Line(uint32_t now, std::string_view text, int level, std::optional<Count>* ended) {
  if (open_ && IsOver(now)) *ended = End(now, true);
  if (open_) {
    ++more_;
    last_ms_ = now;
    return false;
  }
  open_ = true;
  first_ms_ = last_ms_ = now;
  more_ = 0;
  level_ = level;
  first_line_.assign(text);
  return true;
}

std::optional<LineBurst::Count> LineBurst::End(uint32_t now, bool force) {
  if (!open_ || (!force && !IsOver(now))) return std::nullopt;
  open_ = false;
  if (more_ == 0) return std::nullopt;
  // Rounded up: a burst within one second is "in 1 s".
  const uint32_t seconds = std::max<uint32_t>(1, (last_ms_ - first_ms_ + 999) / 1000);
  return Count{std::move(first_line_), level_, more_, seconds};
}

std::optional<uint32_t> LineBurst::DueIn(uint32_t now) const {
  if (!open_) return std::nullopt;
  const uint32_t quiet = now - last_ms_;
  const uint32_t length = now - first_ms_;
  const uint32_t gap_left = quiet < kBurstGapMs ? kBurstGapMs - quiet : 0;
  const uint32_t length_left = length < kLongestBurstMs ? kLongestBurstMs - length : 0;
  return std::min(gap_left, length_left);
}

void WritePeerLine(PeerLine kind, std::string_view line, int level) {
  QvLog* log = QvLog::GetInstance();
  if (!log->Wants(level)) return;
  Counts& counts = TheCounts();
  std::optional<LineBurst::Count> ended;
  bool first;
  {
    std::lock_guard<std::mutex> hold(counts.lock);
    first =
        counts.bursts[static_cast<size_t>(kind)].Line(platform::TickCount(), line, level, &ended);
  }
  if (first) counts.changed.notify_one();
  if (ended) WriteCount(kind, *ended);
  if (first || EveryLineToFile(kind)) log->WriteFile(line, level);
  if (first) log->WriteJournal(line, level);
}

void StartPeerLineCounts() {
  Counts& counts = TheCounts();
  std::lock_guard<std::mutex> hold(counts.lock);
  if (counts.thread.joinable()) return;
  counts.stop = false;
  try {
    counts.thread = std::thread(CountLoop, &counts);
  } catch (const std::system_error&) {
    // The counts then come with the next burst of their kind.
  }
}

void StopPeerLineCounts() {
  Counts& counts = TheCounts();
  std::thread thread;
  {
    std::lock_guard<std::mutex> hold(counts.lock);
    counts.stop = true;
    thread = std::move(counts.thread);
  }
  counts.changed.notify_one();
  if (thread.joinable()) thread.join();
  std::optional<uint32_t> next;
  DueCounts due;
  {
    std::lock_guard<std::mutex> hold(counts.lock);
    due = EndBursts(counts, platform::TickCount(), true, &next);
  }
  for (const auto& [kind, count] : due) WriteCount(kind, count);
}
