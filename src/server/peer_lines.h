// Lines that peers cause (requests that cannot be parsed, refusals) are
// theirs to multiply: a flood of them must not drown the journal, whose rate
// limit would then drop the service's real failures. Standard error (under
// systemd) gets each kind of line once per burst (lines less than a second
// apart, cut after a minute) and, once the burst is over, how many more came:
// "Couldn't parse request data ... and 499 more in 2 s". The log file keeps
// every line as LogLevel says; only the refusals at accept, which a flood of
// connections makes by the thousand, it gets once per burst too, with the
// count.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class PeerLine {
  // every line to the file
  kRecvError,
  kNoRequestData,
  kRequestFail,
  kUnparsable,
  kRefusedOrigin,
  kInvalidHost,
  kFileRefused,
  kAbandoned,
  // once per burst to the file as well
  kNotServed,
  kOtherAccount,
  kOwnerUnknown,
  kHostFull,
  kAllFull,
  kCount
};

void WritePeerLine(PeerLine kind, std::string_view line, int level);

// The thread that writes each burst's count once the burst is over. Without
// it a count is written when the next burst of its kind begins. Stop writes
// the counts still due.
void StartPeerLineCounts();
void StopPeerLineCounts();

// One kind's bursts, on the caller's clock (milliseconds, wrapping).
class LineBurst {
 public:
  struct Count {
    std::string first_line;
    int level = 1;
    uint32_t more = 0;
    uint32_t seconds = 0;
    // "<first line> ... and <more> more in <seconds> s"
    std::string Text() const;
  };

  // A line at now: true when it begins a burst. A burst that was over by
  // then ends first, and its count (when lines followed its first) is
  // handed back through ended.
  bool Line(uint32_t now, std::string_view text, int level, std::optional<Count>* ended);
  // Ends the burst if it is over at now (or when forced): its count when
  // lines followed its first.
  std::optional<Count> End(uint32_t now, bool force = false);
  // Milliseconds from now until the open burst is over; none when no burst
  // is open.
  std::optional<uint32_t> DueIn(uint32_t now) const;

 private:
  bool IsOver(uint32_t now) const;

  bool open_ = false;
  uint32_t first_ms_ = 0;
  uint32_t last_ms_ = 0;
  uint32_t more_ = 0;
  int level_ = 1;
  std::string first_line_;
};
