// What one module call costs the host beyond the call itself, for
// bench/README.md: the module library is loaded, constructed, destroyed and
// unloaded ROUNDS x BATCH times through the host's own loader, and the median
// microseconds per load of each round are printed per library, the libraries
// taking turns. With BUSY set, that many threads of this process spin
// meanwhile, as connection threads do in the server: then each unmapping
// must also reach the other cores.
// Usage: module_load_bench ROUNDS BATCH BUSY LIBRARY...
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "module/QvPeerModule.h"
#include "platform/shared_library.h"

namespace {

// Microseconds per load, or a negative number when the library fails.
double Round(const std::string& file, int batch) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < batch; ++i) {
    std::string error;
    std::optional<platform::SharedLibrary> library = platform::SharedLibrary::Load(file, &error);
    if (!library) {
      std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
      return -1;
    }
    auto construct = library->Find<ConstructQvModuleFn>("ConstructQvModule");
    auto destroy = library->Find<DestroyQvModuleFn>("DestroyQvModule");
    if (construct == nullptr || destroy == nullptr) return -1;
    destroy(construct());
  }
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
             .count() /
         batch;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: module_load_bench ROUNDS BATCH BUSY LIBRARY...\n");
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  const int batch = std::atoi(argv[2]);
  const int busy = std::atoi(argv[3]);
  const std::vector<std::string> files(argv + 4, argv + argc);
  std::atomic<bool> stop{false};
  std::vector<std::thread> spinners;
  for (int i = 0; i < busy; ++i) {
    spinners.emplace_back([&] {
      while (!stop.load(std::memory_order_relaxed)) {
      }
    });
  }
  std::vector<std::vector<double>> times(files.size());
  int status = 0;
  for (int round = 0; round < rounds && status == 0; ++round) {
    for (size_t i = 0; i < files.size(); ++i) {
      const double us = Round(files[i], batch);
      if (us < 0) status = 1;
      times[i].push_back(us);
    }
  }
  stop = true;
  for (std::thread& spinner : spinners) spinner.join();
  if (status != 0) return status;
  for (size_t i = 0; i < files.size(); ++i) {
    std::sort(times[i].begin(), times[i].end());
    std::printf("%8.1f us per load (median of %d rounds of %d)  %s\n", times[i][times[i].size() / 2],
                rounds, batch, files[i].c_str());
  }
  return 0;
}
