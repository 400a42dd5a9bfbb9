// The rules by which the tray program judges a transfer record: which ones
// a previous run left behind, when one has expired, which may be resumed.
// Times are seconds since 1970; a retention "day" is 84 600 seconds.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/bounded_copy.h"
#include "records/record_layout.h"

namespace records {

inline constexpr int64_t kRetentionDay = 84600;
inline constexpr int kAgePurgeDays = 30;
inline constexpr int kAllFilterDays = 7;
inline constexpr int kFilterAll = -2;
inline constexpr int kFilterSession = -1;

// The flag is set: any byte but 0, wherever it is read.
bool IsResumable(const XferRecord& record);
// Status 0 or 4: left behind by a previous run.
bool NeedsReset(const XferRecord& record);
// An incoming resumable transfer goes to status 2; any other ends (3, "true").
void Reset(XferRecord* record);
// The record's time lies after now - days.
bool Within(const XferRecord& record, int64_t days, int64_t now);
// Ended and outside the filter's window (-2 all, -1 session, else days).
bool ExpiredUnderFilter(const XferRecord& record, int filter, int64_t now);
bool ExpiredByAge(const XferRecord& record, int64_t now);
// Not deleted, resumable and in status 2.
bool ToResume(const XferRecord& record);

}  // namespace records
