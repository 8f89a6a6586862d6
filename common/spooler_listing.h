// Looking through one of the spooler's lists (ports, drivers) for a record.
#pragma once

#include "common/scoped_handle.h"

// Asks `enumerate(buffer, size, &needed, &count)` for the size of the list,
// then for the list itself in a zero-filled local-heap buffer of that size,
// and answers whether a returned record satisfies `match`. An empty list, a
// buffer that cannot be had or a failed second call count as no record; the
// buffer is released on every path.
template <typename Record, typename Enumerate, typename Match>
bool AnyListedRecord(Enumerate enumerate, Match match) {
  DWORD needed = 0;
  DWORD count = 0;
  enumerate(nullptr, 0, &needed, &count);
  if (needed == 0) return false;
  const DWORD size = needed;
  ScopedLocalMemory buffer(os.LocalAlloc(LPTR, size));
  if (!buffer) return false;
  count = 0;
  if (!enumerate(static_cast<LPBYTE>(buffer.get()), size, &needed, &count)) return false;
  const auto* records = static_cast<const Record*>(buffer.get());
  // A count beyond what the buffer can hold is not believed.
  for (DWORD i = 0; i < count && i < size / sizeof(Record); ++i) {
    if (match(records[i])) return true;
  }
  return false;
}
