// Notifications to the owner window. peerserver passes notification message
// 0, with which they are dropped; the calls stay where the server reports
// its events, so a window that wants them needs only this function.
#pragma once

#include <string_view>

enum ServerNotifyCode {
  NOTIFY_CONN_CLOSED = 1025,
  NOTIFY_FILE_SENT = 1026,
  NOTIFY_FILE_NOT_FOUND = 1027,
  NOTIFY_TEXT = 1028,
};

inline void ServerNotify(ServerNotifyCode, std::string_view) {}
// A text and a number, put together only where a window takes them.
inline void ServerNotifyNumber(ServerNotifyCode, std::string_view, long) {}
// "<operation> : <error text>"
inline void ServerNotifyError(std::string_view, int) {}
