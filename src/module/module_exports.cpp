// What QV_DEFINE_MODULE's exports need from the runtime.
#include <cstring>

#include "base/bounded_copy.h"
#include "base/revision.h"
#include "module/QvPeerModule.h"

void QvCopyRevision(char* dest, size_t size, const char* keyword) {
  CopyBounded(dest, size, RevisionNumber(keyword != nullptr ? keyword : ""));
}
