#include "support/qvbroker_fixture.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "support/http_client.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

// "qvbroker ready plain=P tls=T": the first port of each list.
bool ParseReady(const std::string& line, uint16_t* plain, uint16_t* tls) {
  unsigned a = 0;
  unsigned b = 0;
  if (std::sscanf(line.c_str(), "qvbroker ready plain=%u%*[^ ] tls=%u", &a, &b) != 2 &&
      std::sscanf(line.c_str(), "qvbroker ready plain=%u tls=%u", &a, &b) != 2) {
    return false;
  }
  *plain = static_cast<uint16_t>(a);
  *tls = static_cast<uint16_t>(b);
  return a != 0;
}

}  // namespace

QvBrokerFixture::QvBrokerFixture(const std::string& program, std::vector<std::string> extra_args)
    : PeerProcess("qvbroker-") {
  fs::create_directory(dir_ / "rec");
  fs::create_directory(dir_ / "store");
  std::vector<std::string> args = {"--port",       "0",
                                   "--tls-port",   "0",
                                   "--ready-file", (dir_ / "ready").string(),
                                   "--record",     (dir_ / "rec").string(),
                                   "--store",      (dir_ / "store").string()};
  // A CA is generated only when no certificate is given.
  if (std::find(extra_args.begin(), extra_args.end(), "--cert") == extra_args.end()) {
    args.insert(args.end(), {"--ca-out", (dir_ / "ca.pem").string()});
  }
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  const fs::path ready = dir_ / "ready";
  if (!Launch(
          program, args, "qvbroker.log",
          [&] {
            return fs::exists(ready) && ParseReady(ReadText(ready), &plain_port_, &tls_port_);
          },
          std::chrono::seconds(20))) {
    plain_port_ = tls_port_ = 0;
  }
}

std::vector<std::string> QvBrokerFixture::RecordNames() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_ / "rec")) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> QvBrokerFixture::Requests() const {
  std::vector<std::string> requests;
  for (const std::string& name : RecordNames()) requests.push_back(ReadText(dir_ / "rec" / name));
  return requests;
}

std::vector<std::string> QvBrokerFixture::RequestLines() const {
  std::vector<std::string> lines;
  for (const std::string& request : Requests())
    lines.push_back(request.substr(0, request.find('\n')));
  return lines;
}

size_t QvBrokerFixture::PageRequests(const std::string& page) const {
  const std::string target = "/asys/" + page + ".jsp?";
  size_t count = 0;
  for (const std::string& line : RequestLines()) count += line.find(target) != std::string::npos;
  return count;
}

std::string QvBrokerFixture::Admin(const std::string& path_and_query) const {
  const std::string answer = Get(plain_port_, path_and_query).answer;
  const size_t body = answer.find("\r\n\r\n");
  return body == std::string::npos ? std::string() : answer.substr(body + 4);
}

int QvBrokerFixture::Stop() {
  if (!process_) return -1;
  const int status = process_->Stop();
  process_.reset();
  return status;
}
