#include "host/module_answer.h"

#include <string>
#include <string_view>

#include "base/no_store.h"
#include "host/answer_send.h"

// The connection's shutdown follows a module's answer and takes its last
// bytes along.
int SendModuleAnswer(tagREQUEST* request, const char* data, size_t length) {
  const std::string_view answer(data, length);
  if (!NoStoreInsertAt(answer)) return SendPart(request, data, length, /*more_follows=*/true);
  // One copy with the header in place: one send, so the answer still
  // leaves in full segments.
  const std::string text = WithNoStore(answer);
  return SendPart(request, text.data(), text.size(), /*more_follows=*/true);
}
