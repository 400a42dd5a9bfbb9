#include "base/url_decode.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "base/log.h"

namespace {

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

}  // namespace

char* URLDecode(const char* text, bool keep_separators) {
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
