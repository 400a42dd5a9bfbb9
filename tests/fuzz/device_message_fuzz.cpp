// Any token run a broker answer can hand to the message handlers, and any
// instruction list a QuitWithInst message can carry. Whatever the bytes:
// every view lies inside the run, a message never reaches past the next
// one, the query keeps the run's length, and instruction entries only hold
// text that was in the list.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "session/device_message.h"
#include "session/exit_with_instructions.h"

namespace {

void Inside(std::string_view part, std::string_view whole) {
  if (part.empty()) return;
  if (part.data() < whole.data() || part.data() + part.size() > whole.data() + whole.size()) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view run(reinterpret_cast<const char*>(data), size);

  const std::string_view own = OwnMessage(run);
  Inside(own, run);
  if (own.data() != run.data() && !own.empty()) std::abort();
  for (std::string_view token : MessageTokens(run)) Inside(token, run);
  if (own.size() < run.size() && run.substr(own.size()) != std::string_view("\0", 1) &&
      !run.substr(own.size()).starts_with(std::string_view("\0messageType", 12))) {
    std::abort();
  }
  for (std::string_view name : {"messageSID", "deviceSID", "appSID", "HeartbeatLength"}) {
    if (auto field = GetMessageField(own, name)) Inside(*field, own);
  }
  const MessageSetting setting = FindMessageSetting(own);
  if (setting.name) Inside(*setting.name, own);
  if (setting.value) Inside(*setting.value, own);
  const std::string query = MessageQuery(own);
  if (query.size() != own.size() || query.find('\0') != std::string::npos) std::abort();

  for (const BootInstruction& entry : ParseBootInstructions(run)) {
    if (entry.first.size() + entry.second.size() + 3 > size) std::abort();
    if (!entry.has_second && !entry.second.empty()) std::abort();
  }
  return 0;
}
