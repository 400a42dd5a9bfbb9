// QvJspResponse: one broker answer, checked and split. The body is text in
// CR LF lines: "StatusCode=<code>", a name line, a description line and a
// details line of key=value pairs joined by '&' (records may also be divided
// by line feeds). The first four '=' of the text delimit the four values.
//
// The object owns a private copy of the body and splits it in place: the
// separators become zero bytes, and every text it hands out points into that
// copy, valid until the object is destroyed or takes another body. One object
// per page call; not shared between threads.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

class QvJspResponse {
 public:
  QvJspResponse() = default;
  QvJspResponse(const QvJspResponse&) = delete;
  QvJspResponse& operator=(const QvJspResponse&) = delete;
  ~QvJspResponse() = default;

  // 0 when body is a broker answer (it may still carry an error status);
  // -1 when it is empty or does not begin with "StatusCode".
  int BuildResponse(std::string_view body);
  // Splits the details line into pairs, once.
  void ParseDetails();

  const char* GetStatus() const { return m_szStatus; }
  // True for the status "200" exactly.
  bool IsOK() const;
  // The value of the first pair whose key equals key (case-sensitive).
  const char* GetDetails(const char* key);
  int GetDetailsCount() const { return m_nDetails; }
  // Null outside 0 to GetDetailsCount()-1; a value is null when its pair had
  // no '='.
  const char* GetDetailsKey(int index);
  const char* GetDetailsValue(int index);
  // The n-th device message (from 0): a run of zero-terminated tokens, key,
  // value, ..., from its "messageType" key to the end of the details line,
  // *length characters long. Null when there are fewer messages.
  const char* GetMsgPtr(int n, int* length);
  // Writes the fields to the log at level 3.
  void Dump();

 private:
  void Reset();
  // Characters from position to the end of the copy.
  size_t Remaining(const char* position) const;
  // Finds every message once: a long list must not cost a scan per message.
  void FindMessages();

  struct MessageSpan {
    size_t offset;  // from m_szDetails
    size_t length;
  };

  std::unique_ptr<char[]> m_szResponse;  // the copy, m_nResponseLen bytes and a zero
  size_t m_nResponseLen = 0;
  char* m_szStatus = nullptr;
  char* m_szName = nullptr;
  char* m_szDescription = nullptr;
  char* m_szDetails = nullptr;
  int m_nDetails = 0;
  int m_nDetailsLen = 0;
  std::unique_ptr<char*[]> m_szDetailsKeys;
  std::unique_ptr<char*[]> m_szDetailsValues;
  std::optional<std::vector<MessageSpan>> m_messages;  // after FindMessages
};
