// The smallest useful module: it answers with its parameters, one per line,
// and shows the contract a module author follows.
#include <string>

#include "module/QvPeerModule.h"

namespace {

class QvExampleModule : public QvPeerModule {
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

QV_DEFINE_MODULE(QvExampleModule, "$Revision: 1.7 $")
