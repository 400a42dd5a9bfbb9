// The uses the tray program makes of the transfer records.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/native_types.h"

namespace records {

// Seconds since 1970 by the system clock: the "now" of the passes.
int64_t SystemNowSeconds();

// Start-up: takes the manager with the process-wide lock, resets transfers
// a previous run left behind, purges ended records by the converted
// TransactionFilter (-2 all, -1 session, else days), purges records older
// than 30 retention days, and releases the manager. Records are streamed;
// stop, asked between chunks, ends the passes early (a stop request while
// a large file is tidied). The filter purge's count.
int RunStartupPasses(platform::ProcessLock* lock, int transaction_filter, int64_t now,
                     const std::function<bool()>& stop = {});

// Resumption: releases and takes the manager again (so the files are read
// as the modules left them), and returns the transfer UIDs of the records
// that are not deleted, resumable and in status 2, in slot order. The
// manager stays taken.
std::vector<std::string> ResumableTransferUids(platform::ProcessLock* lock);

// Lets the manager go (under the lock), so that its next use reads the
// files as the modules left them.
void ReleaseRecordManager(platform::ProcessLock* lock);

}  // namespace records
