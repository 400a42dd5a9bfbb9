// One received chunk of an answer as ConnectRequest judges it: the kind,
// the part that goes into the stream and the saved error line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "net/answer_chunks.h"
#include "net/net_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so a read past the chunk is caught.
  std::unique_ptr<char[]> chunk(new char[size]);
  if (size > 0) std::memcpy(chunk.get(), data, size);
  const std::string_view text = ChunkText(chunk.get(), size);
  if (text.size() > size || text.find('\0') != std::string_view::npos) std::abort();

  const ChunkVerdict verdict = JudgeAnswerChunk(text);
  if (verdict.kind == ChunkKind::kData) {
    if (!verdict.append.empty() &&
        (verdict.append.data() < text.data() ||
         verdict.append.data() + verdict.append.size() != text.data() + text.size())) {
      std::abort();
    }
    if (verdict.append.size() < text.size() && !text.starts_with("HTTP/1")) std::abort();
  } else if (!text.starts_with("HTTP/1") || !verdict.append.empty()) {
    std::abort();
  }

  const std::string_view line = ErrorLineOf(text);
  if (line.size() > 127 || line.find('\n') != std::string_view::npos) std::abort();
  QvNetUtil util;
  util.SaveErrorLine(text);
  if (std::strlen(util.GetLastErrorLine()) != line.size()) std::abort();
  return 0;
}
