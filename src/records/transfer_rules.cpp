#include "records/transfer_rules.h"

#include <cstring>

namespace records {

bool IsResumable(const XferRecord& record) { return record.bResumable != 0; }

bool NeedsReset(const XferRecord& record) { return record.nStatus == 0 || record.nStatus == 4; }

void Reset(XferRecord* record) {
  if (FieldText(record->szDirection) != "Send" && IsResumable(*record)) {
    record->nStatus = 2;
    return;
  }
  record->nStatus = 3;
  // At most five characters: the last byte of the field stays as it was.
  std::memcpy(record->szDone, "true", 5);
}

bool Within(const XferRecord& record, int64_t days, int64_t now) {
  return int64_t{record.nTime} - (now - days * kRetentionDay) > 0;
}

bool ExpiredUnderFilter(const XferRecord& record, int filter, int64_t now) {
  const int64_t days = filter == kFilterAll ? kAllFilterDays : filter == kFilterSession ? -1 : filter;
  return !Within(record, days, now) && FieldText(record.szDone) == "true";
}

bool ExpiredByAge(const XferRecord& record, int64_t now) {
  return !Within(record, kAgePurgeDays, now);
}

bool ToResume(const XferRecord& record) {
  return record.header.bDeleted != 1 && IsResumable(record) && record.nStatus == 2;
}

}  // namespace records
