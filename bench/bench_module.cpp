// The benchmarks' module: as little as a module can be and still answer
// from its query, so that a call measures the load, the call and the unload.
#include <string>

#include "module/QvPeerModule.h"

namespace {

class QvBenchModule : public QvPeerModule {
 public:
  char* Execute(const char* query, void* pExtra) override {
    m_pRequest = static_cast<tagREQUEST*>(pExtra);
    if (m_pRequest == nullptr) return nullptr;
    ParseString(query);
    std::string answer = "HTTP/1.0 200 OK\nContent-Type: text/plain\n\n";
    for (int i = 0; i < GetNumQueryParams(); ++i) {
      answer.append(GetCgiKey(i)).append("=").append(GetCgiValue(i)).append("\n");
    }
    return QvNewText(answer.data(), answer.size());
  }
};

}  // namespace

QV_DEFINE_MODULE(QvBenchModule, "$Revision: 1.1 $")
