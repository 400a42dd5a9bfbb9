// Appends its query to "slow-entered" and stays in Execute until the file
// "release-slow" appears in the working directory (at most a minute), so
// that a test can see the module busy.
// With "hold=MS" in the query it stays MS milliseconds instead, whatever
// the file: busy for longer than a caller waits.
#include <cstdlib>
#include <cstring>
#include <string>

#include "module/QvPeerModule.h"
#include "platform/clock.h"
#include "platform/file.h"

namespace {

class SlowModule : public QvPeerModule {
 public:
  char* Execute(const char* query, void* pExtra) override {
    m_pRequest = static_cast<tagREQUEST*>(pExtra);
    if (m_pRequest == nullptr) return nullptr;
    // One line per call, written at once: calls on several threads never mix.
    auto entered = platform::File::Open("slow-entered", platform::OpenMode::kAppend);
    if (entered.value.is_open()) entered.value.Write(std::string(query ? query : "") + "\n");
    // Read by hand: a call still busy when the host exits must not use the
    // module's log, which the exit tears down.
    if (const char* hold = query != nullptr ? std::strstr(query, "hold=") : nullptr) {
      platform::SleepMs(static_cast<uint32_t>(std::atol(hold + 5)));
    } else {
      for (int waited = 0; waited < 60000 && !platform::FileExists("release-slow"); waited += 5) {
        platform::SleepMs(5);
      }
    }
    std::string answer = "HTTP/1.0 200 OK\nContent-Type: text/plain\n\nslow done ";
    answer += query != nullptr ? query : "";
    return QvNewText(answer.data(), answer.size());
  }
};

}  // namespace

QV_DEFINE_MODULE(SlowModule, "$Revision: 1.0 $")
