// Declares a shorter answer through dwBytesSent than the text it returns.
#include "module/QvPeerModule.h"

namespace {

class BytesSentModule : public QvPeerModule {
 public:
  char* Execute(const char*, void* pExtra) override {
    m_pRequest = static_cast<tagREQUEST*>(pExtra);
    if (m_pRequest == nullptr) return nullptr;
    static constexpr char kAnswer[] = "0123456789-not-sent";
    m_pRequest->dwBytesSent = 10;
    return QvNewText(kAnswer, sizeof kAnswer - 1);
  }
};

}  // namespace

QV_DEFINE_MODULE(BytesSentModule, "$Revision: 2.0 $")
