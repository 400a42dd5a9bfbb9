// A second process for the cross-process tests. Run in the test's working
// directory:
//   qvcore_child log TAG THREADS LINES PAD   writes THREADS x LINES log lines
//   qvcore_child settings TAG THREADS KEYS   writes THREADS x KEYS settings
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/settings.h"

namespace {

void Log(const std::string& tag, int thread, int lines, int pad) {
  const std::string filler(static_cast<size_t>(pad), 'x');
  for (int i = 0; i < lines; ++i) {
    QvLog::GetInstance()->Write(tag + "-" + std::to_string(thread) + "-" + std::to_string(i) +
                                    " " + filler,
                                1);
  }
}

void Settings(const std::string& tag, int thread, int keys) {
  for (int i = 0; i < keys; ++i) {
    std::string key = tag + "_" + std::to_string(thread) + "_" + std::to_string(i);
    QvSettings::GetInstance()->WriteSetting(key, "v" + key);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  const std::string mode = argv[1];
  const std::string tag = argv[2];
  const int threads = std::stoi(argv[3]);
  const int count = std::stoi(argv[4]);
  const int pad = argc > 5 ? std::stoi(argv[5]) : 0;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      if (mode == "log") Log(tag, t, count, pad);
      if (mode == "settings") Settings(tag, t, count);
    });
  }
  for (std::thread& worker : workers) worker.join();
  return 0;
}
