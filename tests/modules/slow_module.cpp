// Appends its query to "slow-entered" and stays in Execute until the file
// "release-slow" appears in the working directory (at most a minute), so
// that a test can see the module busy.
// With "hold=MS" in the query it stays MS milliseconds instead, whatever
// the file: busy for longer than a caller waits. Each call also appends to
// "slow-in-flight" how many calls it found in the module, itself included.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "module/QvPeerModule.h"
#include "platform/clock.h"
#include "platform/file.h"

namespace {

std::atomic<int> g_in_flight{0};

void AppendLine(const char* file, const std::string& line) {
  // One write per line: calls on several threads never mix.
  auto opened = platform::File::Open(file, platform::OpenMode::kAppend);
  if (opened.value.is_open()) opened.value.Write(line + "\n");
}

class SlowModule : public QvPeerModule {
 public:
  char* Execute(const char* query, void* pExtra) override {
    m_pRequest = static_cast<tagREQUEST*>(pExtra);
    if (m_pRequest == nullptr) return nullptr;
    const int in_flight = ++g_in_flight;
    AppendLine("slow-in-flight", std::to_string(in_flight));
    AppendLine("slow-entered", query != nullptr ? query : "");
    // Read by hand: a call still busy when the host exits must not use the
    // module's log, which the exit tears down.
    if (const char* hold = query != nullptr ? std::strstr(query, "hold=") : nullptr) {
      platform::SleepMs(static_cast<uint32_t>(std::atol(hold + 5)));
    } else {
      for (int waited = 0; waited < 60000 && !platform::FileExists("release-slow"); waited += 5) {
        platform::SleepMs(5);
      }
    }
    --g_in_flight;
    std::string answer = "HTTP/1.0 200 OK\nContent-Type: text/plain\n\nslow done ";
    answer += query != nullptr ? query : "";
    return QvNewText(answer.data(), answer.size());
  }
};

}  // namespace

QV_DEFINE_MODULE(SlowModule, "$Revision: 1.0 $")
