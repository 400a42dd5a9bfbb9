#include "base/lookup_table.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/bounded_copy.h"

namespace {

constexpr int kGrowStep = 10;

std::unique_ptr<char[]> Duplicate(const char* text) {
  if (text == nullptr) return nullptr;
  size_t size = std::strlen(text) + 1;
  auto copy = std::make_unique_for_overwrite<char[]>(size);
  std::memcpy(copy.get(), text, size);
  return copy;
}

}  // namespace

QvLookupTable::QvTableEntry::QvTableEntry(const char* tag_text, const char* value_text) {
  SetTag(tag_text);
  SetValue(value_text);
}

void QvLookupTable::QvTableEntry::SetTag(const char* text) { tag = Duplicate(text); }

void QvLookupTable::QvTableEntry::SetValue(const char* text) { value = Duplicate(text); }

QvLookupTable::QvLookupTable() : QvLookupTable(kGrowStep) {}

QvLookupTable::QvLookupTable(int initial)
    : capacity(std::max(initial, 0)),
      count(0),
      entries(std::make_unique<QvTableEntry[]>(static_cast<size_t>(capacity))) {}

bool QvLookupTable::Insert(const char* tag, const char* value) {
  if (tag == nullptr || value == nullptr) return false;
  int index = hasTag(tag);
  if (index >= 0) {
    entries[index].SetValue(value);
    return true;
  }
  if (count == capacity) GrowTable(kGrowStep);
  entries[count].SetTag(tag);
  entries[count].SetValue(value);
  ++count;
  return true;
}

const char* QvLookupTable::GetValue(const char* tag) const {
  int index = hasTag(tag);
  if (index < 0 || entries[index].GetValue() == nullptr) return "";
  return entries[index].GetValue();
}

void QvLookupTable::GetValue(const char* tag, char* dest, int size) const {
  int index = hasTag(tag);
  if (index < 0 || dest == nullptr || size <= 0) return;
  CopyPadded(dest, static_cast<size_t>(size), entries[index].GetValue());
}

int QvLookupTable::hasTag(const char* tag) const {
  if (tag == nullptr) return -1;
  for (int i = 0; i < count; ++i) {
    if (std::strcmp(entries[i].GetTag(), tag) == 0) return i;
  }
  return -1;
}

void QvLookupTable::Clear() {
  capacity = kGrowStep;
  count = 0;
  entries = std::make_unique<QvTableEntry[]>(kGrowStep);
}

int QvLookupTable::GetMaxValueLenth() const {
  size_t longest = 0;
  for (int i = 0; i < count; ++i) {
    longest = std::max(longest, std::strlen(entries[i].GetValue()));
  }
  return static_cast<int>(longest);
}

const QvLookupTable::QvTableEntry* QvLookupTable::GetEntry(int index) const {
  if (index < 0 || index >= count) return nullptr;
  return &entries[index];
}

void QvLookupTable::GrowTable(int extra) {
  int grown = capacity + extra;
  auto larger = std::make_unique<QvTableEntry[]>(static_cast<size_t>(grown));
  for (int i = 0; i < count; ++i) {
    larger[i].SetTag(entries[i].GetTag());
    larger[i].SetValue(entries[i].GetValue());
  }
  entries = std::move(larger);
  capacity = grown;
}
