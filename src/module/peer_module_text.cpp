// Query-text helpers of the module base: decoding, replacing, ROT13, dates
// and the key=value answers of other modules.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "common/QvPeerModule.h"
#include "common/bounded_copy.h"
#include "common/log.h"
#include "common/lookup_table.h"
#include "platform/local_time.h"

namespace {

constexpr int kMaxAnswerPairs = 100;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Leading hexadecimal digits of up to two characters; conversion stops at
// the first character that is no digit, so no digit gives 0.
int LeadingHex(std::string_view digits) {
  int value = 0;
  for (char c : digits) {
    int v = HexValue(c);
    if (v < 0) break;
    value = value * 16 + v;
  }
  return value;
}

void FormatLocal(time_t time, const char* format, char* dest) {
  constexpr size_t kDateSize = 32;
  dest[0] = '\0';
  std::tm parts{};
  if (!platform::ToLocalTime(static_cast<int64_t>(time), &parts)) return;
  if (std::strftime(dest, kDateSize, format, &parts) == 0) dest[0] = '\0';
}

}  // namespace

char* QvPeerModule::URLDecode(const char* text, bool keep_separators) {
  if (text == nullptr) return nullptr;
  QvLog* log = QvLog::GetInstance();
  size_t length = std::strlen(text);
  char* result = new char[length + 1];
  size_t out = 0;
  for (size_t i = 0; i < length; ++i) {
    char c = text[i];
    if (c == '+') {
      result[out++] = ' ';
      continue;
    }
    if (c != '%') {
      result[out++] = c;
      continue;
    }
    std::string_view digits(text + i + 1, std::min<size_t>(2, length - i - 1));
    std::string formed = "0x";
    formed.append(digits);
    log->WriteString("URLDecode decoding first 2 chars", text + i + 1, 4);
    log->WriteString("URLDecode hexstr=: ", formed, 4);
    if (keep_separators && (formed == "0x26" || formed == "0x3D")) {
      result[out++] = '%';
      for (char d : digits) result[out++] = d;
    } else {
      unsigned char decoded = static_cast<unsigned char>(LeadingHex(digits) & 0xFF);
      result[out++] = static_cast<char>(decoded);
      log->WriteNumber("URLDecode char from hexstr= ", decoded, 4);
    }
    i += digits.size();
  }
  result[out] = '\0';
  return result;
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
