// Every request qvbroker receives, byte for byte, in arrival order: kept in
// memory for the admin page and, with a directory, written to one file per
// request so that a test can compare them with what the device sent.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvbroker {

struct Recorded {
  unsigned number = 0;  // from 1
  bool tls = false;
  uint16_t port = 0;
  std::string bytes;
  std::string outcome;  // one token: "status=200", "http=404", "close", ...
};

class Recorder {
 public:
  // directory empty: memory only. The directory is created when missing.
  explicit Recorder(std::string directory);
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Empty when the directory is usable, else the reason.
  std::string Prepare();

  // Returns the request's number. The file is <dir>/NNNNNN-plain.req or
  // NNNNNN-tls.req; it is complete before this returns.
  unsigned Add(bool tls, uint16_t port, std::string bytes);
  void SetOutcome(unsigned number, std::string outcome);

  // "N plain|tls PORT SIZE OUTCOME REQUEST-LINE" per request.
  std::string List() const;
  std::optional<std::string> Bytes(unsigned number) const;

  static std::string FileName(unsigned number, bool tls);

 private:
  const std::string directory_;
  mutable std::mutex mutex_;
  std::vector<Recorded> requests_;
};

}  // namespace qvbroker
