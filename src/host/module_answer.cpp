#include "host/module_answer.h"

#include <optional>
#include <string>
#include <string_view>

#include "base/no_store.h"
#include "host/answer_send.h"

namespace {

// Up to this size the answer is copied whole with the header; larger ones
// go in three parts, the header between, without the copy.
constexpr size_t kCopiedAnswer = 64 * 1024;

}  // namespace

int SendModuleAnswer(tagREQUEST* request, const char* data, size_t length) {
  const std::string_view answer(data, length);
  const std::optional<size_t> at = NoStoreInsertAt(answer);
  if (!at) return SendBuffer(request, data, length);
  if (length <= kCopiedAnswer) {
    const std::string text = WithNoStore(answer);
    return SendBuffer(request, text.data(), text.size());
  }
  const std::string_view line = NoStoreLine(answer, *at);
  return SendPart(request, data, *at, true) != 0 &&
                 SendPart(request, line.data(), line.size(), true) != 0 &&
                 SendBuffer(request, data + *at, length - *at) != 0
             ? 1
             : 0;
}
