#include "records/record_layout.h"

#include <cstring>

namespace records {

void SetInitialValues(XferRecord* record) {
  char* bytes = reinterpret_cast<char*>(record);
  // Zero up to the first "not set" field, and between the others.
  std::memset(bytes, 0, offsetof(XferRecord, f1304));
  std::memset(bytes + offsetof(XferRecord, f1559), 0,
              offsetof(XferRecord, f2327) - offsetof(XferRecord, f1559));
  record->header.nRecNo = -1;
  record->header.bDeleted = 0;
  record->header.nNextDeleted = -1;
  record->nTime = 0;
  record->n2332 = record->n2336 = record->n2340 = 0;
  record->n2344 = 1;
  record->b2348 = 1;
  record->bResumable = 1;
  record->nStatus = record->n2356 = record->n2360 = 0;
}

}  // namespace records
