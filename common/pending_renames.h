// The renames and deletions that Windows does at the next system start
// (MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT), as it keeps them.
#pragma once

#include <cstddef>

#include "common/package.h"

// Whether a file is to be deleted, or moved away, at the next start: an
// earlier uninstall that found it in use left it so. False where the list
// cannot be read.
bool RemovalPendingAtRestart(const wchar_t* path);

// Whether the next start is to replace or delete a file of one of these
// names (without regard to case), in whatever folder; the first such path
// in `found` (empty where it does not fit). False where the list cannot be
// read.
bool NamedFilePendingAtRestart(const wchar_t* const* names, size_t count, PathText& found);
