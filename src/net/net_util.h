// QvNetUtil: the network utility object. Its ConnectRequest is the one way
// a request leaves the device (to the broker, a proxy or a test host). The
// object is four machine words, zero after construction; modules embed one.
#pragma once

class QvNetUtil {
 public:
  QvNetUtil() = default;

  // The first line of the last proxy or HTTP error answer, or null.
  const char* GetLastErrorLine() const { return m_szLastErrorLine; }

 private:
  void* m_reserved[3] = {};
  const char* m_szLastErrorLine = nullptr;
};
