// The spooler's lists (drivers, queues, ports): read into a block of the
// size the spooler asks for, and looked through.
#pragma once

#include "common/scoped_handle.h"

// Asks `enumerate(bytes, size, &needed, &count)` for the size of the list,
// then for the list itself in a zero-filled block of that size, which
// `records` then holds. Returns the number of records, never more than the
// block can hold; 0 for an empty list, a block that cannot be had or a failed
// second call (the block is then released).
template <typename Record, typename Enumerate>
DWORD ListSpoolerRecords(Enumerate enumerate, LocalBlock<Record>& records) {
  records.reset();
  DWORD needed = 0;
  DWORD count = 0;
  enumerate(nullptr, 0, &needed, &count);
  if (needed == 0) return 0;
  const DWORD size = needed;
  LocalBlock<Record> block = LocalBlock<Record>::Allocate(size);
  if (!block) return 0;
  count = 0;
  if (!enumerate(block.bytes(), size, &needed, &count)) return 0;
  records = std::move(block);
  // A count beyond what the block can hold is not believed.
  return count < size / sizeof(Record) ? count : static_cast<DWORD>(size / sizeof(Record));
}

// Whether a listed record satisfies `match`; the list is released afterwards.
template <typename Record, typename Enumerate, typename Match>
bool AnyListedRecord(Enumerate enumerate, Match match) {
  LocalBlock<Record> records;
  const DWORD count = ListSpoolerRecords(enumerate, records);
  for (DWORD i = 0; i < count; ++i) {
    if (match(records.get()[i])) return true;
  }
  return false;
}
