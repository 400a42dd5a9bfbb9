#include <functional>
#include <memory>

#include "platform/desktop.h"

namespace platform {
namespace {

class PlainDesktop final : public Desktop {
 public:
  bool HasDisplay() const override { return false; }
  intptr_t Run(MessageQueue& queue, uint32_t quit_id,
               const std::function<void(const Message&)>& handle) override {
    for (;;) {
      Message message = queue.Get();
      if (message.id == quit_id) return message.wparam;
      handle(message);
    }
  }
  void AddTrayIcon(TrayIcon) override {}
  void RemoveTrayIcon() override {}
  void SetTrayTip(const std::string&) override {}
  void TrackMenu(const std::vector<MenuItem>&) override {}
  void ShowDialog(const Dialog&) override {}
};

}  // namespace

std::unique_ptr<Desktop> OpenPlainDesktop() { return std::make_unique<PlainDesktop>(); }

}  // namespace platform
