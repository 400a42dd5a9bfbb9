// What QV_DEFINE_MODULE's exports need from the runtime.
#include <cstring>

#include "common/QvPeerModule.h"
#include "common/bounded_copy.h"
#include "common/revision.h"

void QvCopyRevision(char* dest, size_t size, const char* keyword) {
  CopyBounded(dest, size, RevisionNumber(keyword != nullptr ? keyword : ""));
}

char* QvNewText(const char* text, size_t length) {
  char* copy = new char[length + 1];
  if (length != 0) std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}
