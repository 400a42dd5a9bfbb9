// Stays in Execute until the file "release-slow" appears in the working
// directory (at most ten seconds), so that a test can see the module busy.
#include <string>

#include "common/QvPeerModule.h"
#include "platform/clock.h"
#include "platform/file.h"

namespace {

class SlowModule : public QvPeerModule {
 public:
  char* Execute(const char* query, void* pExtra) override {
    m_pRequest = static_cast<tagREQUEST*>(pExtra);
    if (m_pRequest == nullptr) return nullptr;
    platform::File::Open("slow-entered", platform::OpenMode::kAppend);
    for (int waited = 0; waited < 10000 && !platform::FileExists("release-slow"); waited += 5) {
      platform::SleepMs(5);
    }
    std::string answer = "HTTP/1.0 200 OK\nContent-Type: text/plain\n\nslow done ";
    answer += query != nullptr ? query : "";
    return QvNewText(answer.data(), answer.size());
  }
};

}  // namespace

QV_DEFINE_MODULE(SlowModule, "$Revision: 1.0 $")
