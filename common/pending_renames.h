// The renames and deletions that Windows does at the next system start
// (MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT), as it keeps them.
#pragma once

// Whether a file is to be deleted, or moved away, at the next start: an
// earlier uninstall that found it in use left it so. False where the list
// cannot be read.
bool RemovalPendingAtRestart(const wchar_t* path);
