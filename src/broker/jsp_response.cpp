#include "broker/jsp_response.h"

#include <cstring>
#include <string>

#include "base/log.h"

namespace {

constexpr std::string_view kStatusKey = "StatusCode";
constexpr std::string_view kMessageKey = "messageType";
constexpr int kHeadValues = 3;  // status, name, description

}  // namespace

void QvJspResponse::Reset() {
  m_szResponse.reset();
  m_nResponseLen = 0;
  m_szStatus = m_szName = m_szDescription = m_szDetails = nullptr;
  m_nDetails = m_nDetailsLen = 0;
  m_szDetailsKeys.reset();
  m_szDetailsValues.reset();
  m_messages.reset();
}

size_t QvJspResponse::Remaining(const char* position) const {
  return m_nResponseLen - static_cast<size_t>(position - m_szResponse.get());
}

int QvJspResponse::BuildResponse(std::string_view body) {
  QvLog* log = QvLog::GetInstance();
  log->Write("QvJspResponse::BuildResponse", 3);
  if (body.empty()) return -1;
  Reset();
  m_szResponse = std::make_unique_for_overwrite<char[]>(body.size() + 1);
  std::memcpy(m_szResponse.get(), body.data(), body.size());
  m_szResponse[body.size()] = '\0';
  m_nResponseLen = body.size();
  if (!body.starts_with(kStatusKey)) {
    log->Write("Non QV response. Error", 3);
    return -1;
  }

  char* text = m_szResponse.get();
  char** heads[kHeadValues] = {&m_szStatus, &m_szName, &m_szDescription};
  int found = 0;
  size_t i = 0;
  while (i < m_nResponseLen) {
    if (text[i] != '=') {
      ++i;
      continue;
    }
    char* value = text + i + 1;
    if (found == kHeadValues) {
      m_szDetails = value;
      ParseDetails();
      break;
    }
    void* cr = std::memchr(value, '\r', Remaining(value));
    if (cr != nullptr) *static_cast<char*>(cr) = '\0';
    *heads[found++] = value;
    // An '=' among the first two characters of a value is part of it.
    i += 3;
  }
  log->Write("Done BuildResponse", 4);
  return 0;
}

void QvJspResponse::ParseDetails() {
  QvLog* log = QvLog::GetInstance();
  log->Write("QvJspResponse::ParseDetails", 3);
  if (m_szDetailsKeys == nullptr) {
    m_nDetails = 0;
    m_nDetailsLen = 0;
    if (m_szDetails == nullptr) return;
    char* details = m_szDetails;
    const size_t end = Remaining(details);

    size_t length = 0;
    int pairs = 0;
    while (length < end && details[length] != '\r' && details[length] != '\0') {
      if (length > 0 && details[length] == '=') ++pairs;
      ++length;
    }
    m_nDetailsLen = static_cast<int>(length);
    m_nDetails = pairs;
    if (pairs == 0) return;

    m_szDetailsKeys = std::make_unique<char*[]>(static_cast<size_t>(pairs));
    m_szDetailsValues = std::make_unique<char*[]>(static_cast<size_t>(pairs));
    m_szDetailsKeys[0] = details;
    int i = 0;
    bool seen_equals = false;
    // The walk may pass the details line while pairs are still open, but
    // never the end of the copy.
    for (size_t p = 1; i < pairs && p < end; ++p) {
      if (details[p] == '=') {
        details[p++] = '\0';
        m_szDetailsValues[i] = details + p;
        seen_equals = true;
      }
      if (p < end && details[p] == '&') {
        details[p++] = '\0';
        if (++i < pairs) m_szDetailsKeys[i] = details + p;
      }
      if (p < end && (details[p] == '\r' || details[p] == '\n')) {
        details[p] = '\0';
        if (seen_equals && ++i < pairs) m_szDetailsKeys[i] = details + ++p;
        seen_equals = false;
      }
    }
  }
  log->Write("done ParseDetails", 3);
}

bool QvJspResponse::IsOK() const {
  return m_szStatus != nullptr && std::strcmp(m_szStatus, "200") == 0;
}

const char* QvJspResponse::GetDetails(const char* key) {
  QvLog::GetInstance()->WriteString("GetDetails: ", key, 3);
  if (m_szDetailsKeys == nullptr) ParseDetails();
  if (m_szDetailsKeys == nullptr || key == nullptr) return nullptr;
  for (int i = 0; i < m_nDetails; ++i) {
    if (m_szDetailsKeys[i] != nullptr && std::strcmp(m_szDetailsKeys[i], key) == 0) {
      return m_szDetailsValues[i];
    }
  }
  return nullptr;
}

const char* QvJspResponse::GetDetailsKey(int index) {
  if (m_szDetailsKeys == nullptr) ParseDetails();
  if (m_szDetailsKeys == nullptr || index < 0 || index >= m_nDetails) return nullptr;
  return m_szDetailsKeys[index];
}

const char* QvJspResponse::GetDetailsValue(int index) {
  if (m_szDetailsKeys == nullptr) ParseDetails();
  if (m_szDetailsValues == nullptr || index < 0 || index >= m_nDetails) return nullptr;
  return m_szDetailsValues[index];
}

void QvJspResponse::FindMessages() {
  m_messages.emplace();
  if (m_szDetails == nullptr) return;
  const size_t end = Remaining(m_szDetails);
  size_t line_feed = 0;  // the first line feed at or after the last message found
  for (size_t pos = 0; pos < static_cast<size_t>(m_nDetailsLen); ++pos) {
    const char* at = m_szDetails + pos;
    // The copy ends in a zero byte, so at[size] is inside it.
    bool is_message = end - pos >= kMessageKey.size() &&
                      std::memcmp(at, kMessageKey.data(), kMessageKey.size()) == 0 &&
                      at[kMessageKey.size()] == '\0';
    if (!is_message) continue;
    if (line_feed <= pos) {
      const void* lf = std::memchr(at, '\n', end - pos);
      line_feed =
          lf != nullptr ? static_cast<size_t>(static_cast<const char*>(lf) - m_szDetails) : end;
    }
    m_messages->push_back({pos, line_feed - pos});
  }
}

const char* QvJspResponse::GetMsgPtr(int n, int* length) {
  QvLog* log = QvLog::GetInstance();
  log->WriteNumber("GetMsgPtr: Message #", n, 3);
  if (m_szDetailsKeys == nullptr) ParseDetails();
  if (!m_messages) FindMessages();
  if (n >= 0 && static_cast<size_t>(n) < m_messages->size()) {
    const MessageSpan& message = (*m_messages)[static_cast<size_t>(n)];
    const char* at = m_szDetails + message.offset;
    log->WriteString("MsgPtr: ", at, 3);
    if (length != nullptr) *length = static_cast<int>(message.length);
    return at;
  }
  log->Write("GetMsgPtr: None", 3);
  return nullptr;
}

void QvJspResponse::Dump() {
  QvLog* log = QvLog::GetInstance();
  log->WriteString("m_szStatus: ", m_szStatus, 3);
  log->WriteString("m_szName: ", m_szName, 3);
  log->WriteString("m_szDescription: ", m_szDescription, 3);
  log->WriteNumber("m_nDetails: ", m_nDetails, 3);
  if (m_szDetailsKeys == nullptr) return;
  // The labels carry a literal "[i]", not the pair's number.
  for (int i = 0; i < m_nDetails; ++i) {
    log->WriteString("m_szDetailsKeys[i]: ", m_szDetailsKeys[i], 3);
    log->WriteString("m_szDetailsValues[i]: ", m_szDetailsValues[i], 3);
  }
}
