// Query-text helpers of the module base: decoding, replacing, ROT13, dates
// and the key=value answers of other modules.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "base/bounded_copy.h"
#include "base/log.h"
#include "base/lookup_table.h"
#include "base/url_decode.h"
#include "module/QvPeerModule.h"
#include "platform/local_time.h"

namespace {

constexpr int kMaxAnswerPairs = 100;

void FormatLocal(time_t time, const char* format, char* dest) {
  constexpr size_t kDateSize = 32;
  dest[0] = '\0';
  std::tm parts{};
  if (!platform::ToLocalTime(static_cast<int64_t>(time), &parts)) return;
  if (std::strftime(dest, kDateSize, format, &parts) == 0) dest[0] = '\0';
}

}  // namespace

char* QvPeerModule::URLDecode(const char* text, bool keep_separators) {
  return ::URLDecode(text, keep_separators);
}

char QvPeerModule::Esc2Char(const char* two) {
  auto digit = [](char c) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= '@') return u - '0';
    if (u >= 'a' && u <= 'z') u = static_cast<unsigned char>(u - 'a' + 'A');
    return u - 'A' + 10;
  };
  return static_cast<char>((digit(two[0]) * 16 + digit(two[1])) & 0xFF);
}

void QvPeerModule::UnEsc(char* text) {
  if (text == nullptr) return;
  char* out = text;
  for (char* in = text; *in != '\0'; ++in) {
    if (*in == '+') {
      *out++ = ' ';
    } else if (*in == '%' && in[1] != '\0' && in[2] != '\0') {
      *out++ = Esc2Char(in + 1);
      in += 2;
    } else {
      *out++ = *in;
    }
  }
  *out = '\0';
}

void QvPeerModule::Replace(const char* source, const char* search, const char* replacement,
                           char* dest, size_t dest_size) {
  if (dest == nullptr || dest_size == 0) return;
  if (source == nullptr) {
    dest[0] = '\0';
    return;
  }
  std::string_view from(source);
  std::string_view what(search != nullptr ? search : "");
  std::string_view with(replacement != nullptr ? replacement : "");
  if (what.empty()) {
    CopyBounded(dest, dest_size, from);
    return;
  }
  dest[0] = '\0';
  size_t at = 0;
  while (at <= from.size()) {
    size_t hit = from.find(what, at);
    if (hit == std::string_view::npos) {
      AppendBounded(dest, dest_size, from.substr(at));
      return;
    }
    if (!AppendBounded(dest, dest_size, from.substr(at, hit - at)) ||
        !AppendBounded(dest, dest_size, with)) {
      return;
    }
    at = hit + what.size();
  }
}

char* QvPeerModule::RotString(const char* text) {
  // Each thread has its own buffer; a caller's result lasts until its next call.
  thread_local char buffer[128];
  CopyBounded(buffer, text != nullptr ? text : "");
  for (char* p = buffer; *p != '\0'; ++p) {
    char upper = static_cast<char>(*p & ~0x20);
    if (upper >= 'A' && upper <= 'Z') *p = static_cast<char>('A' + (upper - 'A' + 13) % 26);
  }
  return buffer;
}

void QvPeerModule::FormatDate(time_t time, char* dest) {
  if (dest == nullptr) return;
  if (time <= 0) {
    dest[0] = '\0';
    return;
  }
  FormatLocal(time, "%m.%d.%y", dest);
}

void QvPeerModule::FormatTime(time_t time, char* dest) {
  if (dest == nullptr) return;
  FormatLocal(time, "%Y-%m-%d %H:%M:%S", dest);
}

void QvPeerModule::ParseResponse(const char* answer, QvLookupTable* table) {
  if (answer == nullptr || *answer == '\0' || table == nullptr) return;
  QvLog::GetInstance()->WriteString("QvYxModule::ParseResponse: ", answer, 3);
  std::string_view text(answer);
  int pairs = 0;
  size_t start = 0;
  // Empty segments (a trailing line feed, "&&") carry nothing and are skipped.
  while (start < text.size() && pairs < kMaxAnswerPairs) {
    size_t end = std::min(text.find_first_of("\n&", start), text.size());
    std::string_view segment = text.substr(start, end - start);
    start = end + 1;
    if (segment.empty()) continue;
    size_t equals = segment.rfind('=');
    std::string key(segment.substr(0, equals));
    std::string value(equals == std::string_view::npos ? std::string_view() : segment.substr(equals + 1));
    table->Insert(key.c_str(), value.c_str());
    ++pairs;
  }
}
