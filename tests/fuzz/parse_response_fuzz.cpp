// A module's key=value answer parsed into a lookup table.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/lookup_table.h"
#include "module/QvPeerModule.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string answer(reinterpret_cast<const char*>(data), size);
  QvLookupTable table;
  table.Insert("preset", "kept");
  QvPeerModule::ParseResponse(answer.c_str(), &table);
  if (table.GetCount() > 101) std::abort();
  for (int i = 0; i < table.GetCount(); ++i) {
    const QvLookupTable::QvTableEntry* entry = table.GetEntry(i);
    if (entry == nullptr || entry->GetTag() == nullptr || entry->GetValue() == nullptr) std::abort();
    if (i == 0) continue;
    if (std::strpbrk(entry->GetTag(), "\n&") != nullptr) std::abort();
    if (std::strpbrk(entry->GetValue(), "\n&=") != nullptr) std::abort();
  }
  if (table.hasTag("preset") != 0) std::abort();
  return 0;
}
