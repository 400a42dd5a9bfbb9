// A stand-in for the network's status module: it tells the page whether the
// device is online at the broker. "operation=state" answers one word
// ("online" or "offline"); anything else a small page.
#include <string>

#include "common/QvPeerModule.h"
#include "common/device.h"

namespace {

class QvStatusModule : public QvPeerModule {
 public:
  char* Execute(const char* query, void* pExtra) override {
    m_pRequest = static_cast<tagREQUEST*>(pExtra);
    if (m_pRequest == nullptr || m_pRequest->pDevice == nullptr) return nullptr;
    ParseString(query);
    QvDevice& device = *m_pRequest->pDevice;
    const bool online = device.GetOnlineState();
    const char* operation = GetCgiValue("operation");
    std::string answer;
    if (operation != nullptr && std::string(operation) == "state") {
      answer = "HTTP/1.0 200 OK\nContent-Type: text/plain\n\n";
      answer += online ? "online" : "offline";
    } else {
      answer = "HTTP/1.0 200 OK\nContent-Type: text/html\n\n<html><body><h1>Device status</h1>";
      answer += "<p id=\"online\">" + std::string(online ? "online" : "offline") + "</p>";
      answer += "<p id=\"sid\">" + device.GetDeviceSID() + "</p></body></html>";
    }
    return QvNewText(answer.data(), answer.size());
  }
};

}  // namespace

QV_DEFINE_MODULE(QvStatusModule, "$Revision: 1.0 $")
