// Template text and table values through the template expansion, checked
// against a direct model of it: CR LF folded, pieces of at most 255
// characters ending at a line feed, tags "[%name%]" inside one piece, names
// cut to 32 characters.
//
// Input: table lines "name=value" separated by line feeds, a byte 0x01, and
// the template. Without 0x01 the whole input is the template.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>

#include "base/lookup_table.h"
#include "module/output_generator.h"
#include "platform/file.h"

namespace {

class CollectingOutput : public OutputGenerator {
 public:
  std::string all;

 protected:
  void WriteOutput(const char* text, int length) override {
    if (length < 0) std::abort();
    all.append(text, static_cast<size_t>(length));
  }
};

std::string Expected(std::string_view text, const QvLookupTable& table) {
  std::string folded;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    folded += text[i];
  }
  std::string out;
  size_t start = 0;
  while (start < folded.size()) {
    size_t lf = folded.find('\n', start);
    size_t end = lf == std::string::npos ? folded.size() : lf + 1;
    if (end - start > 255) end = start + 255;
    std::string_view piece(folded.data() + start, end - start);
    size_t pos = 0;
    for (;;) {
      size_t open = piece.find("[%", pos);
      if (open == std::string_view::npos) break;
      size_t close = piece.find("%]", open + 2);
      if (close == std::string_view::npos) break;
      std::string name(piece.substr(open + 2, std::min<size_t>(32, close - open - 2)));
      name = name.substr(0, name.find('\0'));
      out.append(piece.substr(pos, open - pos));
      out.append(table.GetValue(name.c_str()));
      pos = close + 2;
    }
    out.append(piece.substr(pos));
    start = end;
  }
  return out;
}

const std::string& TemplatePath() {
  static const std::string path = [] {
    std::random_device random;
    return (std::filesystem::temp_directory_path() /
            ("template_fuzz_" + std::to_string(random()) + ".htx"))
        .string();
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  QvLookupTable table;
  table.Insert(std::string(32, 'T').c_str(), "thirty-two");
  std::string_view text = input;
  size_t mark = input.find('\x01');
  if (mark != std::string_view::npos) {
    std::string_view entries = input.substr(0, mark);
    text = input.substr(mark + 1);
    while (!entries.empty()) {
      size_t lf = entries.find('\n');
      std::string line(entries.substr(0, lf));
      entries = lf == std::string_view::npos ? std::string_view() : entries.substr(lf + 1);
      size_t equals = line.find('=');
      std::string name = line.substr(0, equals);
      std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
      table.Insert(name.c_str(), value.c_str());
    }
  }

  {
    auto file = platform::File::Open(TemplatePath(), platform::OpenMode::kTruncate);
    if (!file.ok() || !file.value.Write(text).ok()) std::abort();
  }
  CollectingOutput output;
  output.m_pTable = &table;
  output.setTemplate(TemplatePath().c_str());
  if (!output.ConstructOutputFromTemplate()) std::abort();
  if (output.all != Expected(text, table)) std::abort();
  return 0;
}
