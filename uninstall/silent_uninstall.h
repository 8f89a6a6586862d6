// The uninstall without a window: everything the dialog's "Remove" would
// remove, for deployment tools that judge the run by its exit code.
#pragma once

#include "platform/win.h"

struct SilentUninstallResult {
  int exit_code;    // 0 removed (or nothing to remove), 3010 a file waits for the next start, else the cause
  bool folder_due;  // everything is removed and the install folder is to go
};

// Takes the inventory and removes it bottom-up with the monitor DLL. When
// nothing failed, the install folder goes too, here when `delete_folder`
// says so (otherwise the caller hands it on). After a failure the folder
// stays, and the exit code is the first failed node's code (1603 when it has
// none, or the inventory could not be read whole).
SilentUninstallResult SilentUninstall(bool delete_folder);
