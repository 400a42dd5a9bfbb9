// QvLookupTable: a small ordered text-to-text table. Tags compare byte for
// byte (case-sensitive), insertion order is kept and a tag occurs once.
// Template substitutions, parsed module answers and other small maps use it.
// Its methods are part of the interface modules link against, so the names
// (GetMaxValueLenth included) and the growth in steps of ten are fixed.
#pragma once

#include <cstddef>
#include <memory>

class QvLookupTable {
 public:
  class QvTableEntry {
   public:
    QvTableEntry() = default;
    QvTableEntry(const char* tag, const char* value);

    const char* GetTag() const { return tag.get(); }
    void SetTag(const char* text);
    const char* GetValue() const { return value.get(); }
    void SetValue(const char* text);

   private:
    std::unique_ptr<char[]> tag;    // owned copy, null in a default entry
    std::unique_ptr<char[]> value;  // owned copy, null in a default entry
  };

  QvLookupTable();
  explicit QvLookupTable(int capacity);
  QvLookupTable(const QvLookupTable&) = delete;
  QvLookupTable& operator=(const QvLookupTable&) = delete;
  ~QvLookupTable() = default;

  // False, and nothing changes, when tag or value is null. An existing tag
  // keeps its place and takes the new value.
  bool Insert(const char* tag, const char* value);
  // The value, or the empty text when the tag is absent (use hasTag to tell).
  const char* GetValue(const char* tag) const;
  // Copies the value into dest (zero-padded, always terminated); dest is left
  // alone when the tag is absent.
  void GetValue(const char* tag, char* dest, int size) const;
  int hasTag(const char* tag) const;
  void Clear();
  int GetMaxValueLenth() const;

  int GetCount() const { return count; }
  int GetCapacity() const { return capacity; }
  // The entry at index, or null outside 0 to count-1.
  const QvTableEntry* GetEntry(int index) const;

 private:
  void GrowTable(int extra);

  int capacity;
  int count;
  std::unique_ptr<QvTableEntry[]> entries;  // capacity slots, the first count in use
};
