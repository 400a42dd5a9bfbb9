#include "module/output_generator.h"

#include <cstring>
#include <string>
#include <string_view>

#include "base/bounded_copy.h"
#include "base/lookup_table.h"
#include "module/QvPeerModule.h"
#include "platform/path.h"

namespace {

constexpr int kPieceSize = 256;  // 255 characters and the terminator
constexpr size_t kTagNameSize = 33;
constexpr std::string_view kStatusLine = "HTTP/1.0 200 OK\n";
// A module's page is the answer to a call: never kept by the browser.
constexpr std::string_view kContentType =
    "Cache-Control: no-store\r\nContent-Type: text/html\r\n\r\n";

// Reads a template the way a text-mode stream does: CR LF arrives as LF.
class TemplateReader {
 public:
  explicit TemplateReader(platform::File& file) : file_(file) {}

  // Up to max characters, ending after a line feed; 0 at the end.
  int ReadPiece(char* dest, int max) {
    int n = 0;
    while (n < max) {
      int c = Get();
      if (c < 0) break;
      if (c == '\r' && Peek() == '\n') c = Get();
      dest[n++] = static_cast<char>(c);
      if (c == '\n') break;
    }
    return n;
  }

 private:
  int Peek() {
    if (next_ == end_ && !Fill()) return -1;
    return static_cast<unsigned char>(chunk_[next_]);
  }
  int Get() {
    int c = Peek();
    if (c >= 0) ++next_;
    return c;
  }
  bool Fill() {
    auto n = file_.Read(chunk_, sizeof chunk_);
    if (!n.ok() || n.value <= 0) return false;
    next_ = 0;
    end_ = static_cast<size_t>(n.value);
    return true;
  }

  platform::File& file_;
  char chunk_[4096];
  size_t next_ = 0;
  size_t end_ = 0;
};

}  // namespace

OutputGenerator::OutputGenerator() = default;

OutputGenerator::~OutputGenerator() = default;

void OutputGenerator::setTemplate(const char* path) {
  m_szTemplate.reset();
  if (path == nullptr) return;
  size_t size = std::strlen(path) + 1;
  m_szTemplate = std::make_unique<char[]>(size);
  std::memcpy(m_szTemplate.get(), path, size);
}

bool OutputGenerator::ConstructOutputFromTemplate() {
  if (m_szTemplate == nullptr) return false;
  auto opened = platform::File::Open(platform::NativePath(m_szTemplate.get()), platform::OpenMode::kRead);
  if (!opened.ok()) return false;
  if (m_bSendHeaders) {
    WriteOutput(kStatusLine.data(), static_cast<int>(kStatusLine.size()));
    WriteOutput(kContentType.data(), static_cast<int>(kContentType.size()));
  }
  TemplateReader reader(opened.value);
  char piece[kPieceSize];
  while (int length = reader.ReadPiece(piece, kPieceSize - 1)) {
    piece[length] = '\0';
    ExpandPiece(piece, length);
  }
  return true;
}

void OutputGenerator::ExpandPiece(char* piece, int length) {
  std::string_view text(piece, static_cast<size_t>(length));
  size_t pos = 0;
  for (;;) {
    size_t open = text.find("[%", pos);
    if (open == std::string_view::npos) break;
    // Searched from behind the opening mark, so "[%]" opens no tag.
    size_t close = text.find("%]", open + 2);
    if (close == std::string_view::npos) break;
    char name[kTagNameSize];
    CopyBounded(name, text.substr(open + 2, close - open - 2));
    // The base class sends up to the terminator: end the text at the mark.
    piece[open] = '\0';
    WriteOutput(piece + pos, static_cast<int>(open - pos));
    piece[open] = '[';
    HandleTag(name);
    pos = close + 2;
  }
  WriteOutput(piece + pos, static_cast<int>(text.size() - pos));
}

void OutputGenerator::HandleTag(const char* name) {
  const char* value = m_pTable != nullptr ? m_pTable->GetValue(name) : "";
  size_t size = (m_pTable != nullptr ? static_cast<size_t>(m_pTable->GetMaxValueLenth()) : 0) + 1;
  std::string buffer(size, '\0');
  size_t copied = CopyBounded(buffer.data(), size, value);
  WriteOutput(buffer.data(), static_cast<int>(copied));
}

void OutputGenerator::WriteOutput(const char* text, int /*length*/) {
  QvPeerModule::SendBuffer(text, static_cast<int>(std::strlen(text)), m_hSocket);
}

FileOutputGenerator::FileOutputGenerator(const char* path) {
  if (path != nullptr) m_path = platform::NativePath(path);
}

FileOutputGenerator::~FileOutputGenerator() {
  if (!m_path.empty()) platform::ReplaceFileAtomically(m_path, m_content);
}

void FileOutputGenerator::WriteOutput(const char* text, int length) {
  if (m_path.empty() || text == nullptr || length <= 0) return;
  m_content.append(text, static_cast<size_t>(length));
}
