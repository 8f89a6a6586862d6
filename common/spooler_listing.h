// The spooler's lists (drivers, queues, ports): read into a block of the
// size the spooler asks for, and looked through.
#pragma once

#include "common/scoped_handle.h"

// Asks `enumerate(bytes, size, &needed, &count)` for the size of the list,
// then for the list itself in a zero-filled block of that size, which
// `records` then holds, and `count` the number of records in it (never more
// than the block can hold). True when the list was read, also when it is
// empty; false when the spooler refused it or no block could be had (the
// block is then released and the count 0).
// A list that grew between the size query and the fetch (a queue Plug and
// Play made meanwhile) fails the fetch as a size query does; it is asked for
// again at its new size, a few times at most.
template <typename Record, typename Enumerate>
bool ListSpoolerRecords(Enumerate enumerate, LocalBlock<Record>& records, DWORD& count) {
  constexpr int kTries = 3;
  records.reset();
  count = 0;
  DWORD needed = 0;
  DWORD listed = 0;
  SetLastError(ERROR_SUCCESS);
  if (!enumerate(nullptr, 0, &needed, &listed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  if (needed == 0) return true;
  DWORD size = 0;
  LocalBlock<Record> block;
  for (int attempt = 0;; ++attempt) {
    size = needed;
    block = LocalBlock<Record>::Allocate(size);
    if (!block) return false;
    listed = 0;
    SetLastError(ERROR_SUCCESS);
    if (enumerate(block.bytes(), size, &needed, &listed)) break;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= size || attempt + 1 == kTries) return false;
  }
  records = std::move(block);
  // A count beyond what the block can hold is not believed.
  count = listed < size / sizeof(Record) ? listed : static_cast<DWORD>(size / sizeof(Record));
  return true;
}

// Whether a listed record satisfies `match`; the list is released afterwards.
template <typename Record, typename Enumerate, typename Match>
bool AnyListedRecord(Enumerate enumerate, Match match) {
  LocalBlock<Record> records;
  DWORD count = 0;
  ListSpoolerRecords(enumerate, records, count);
  for (DWORD i = 0; i < count; ++i) {
    if (match(records.get()[i])) return true;
  }
  return false;
}
