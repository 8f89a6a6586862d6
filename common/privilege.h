// The privilege the spooler's driver and monitor calls require of their
// caller (AddPrinterDriverEx, AddMonitor, DeletePrinterDriverEx,
// DeleteMonitor): an administrator holds SeLoadDriverPrivilege, but it is
// off in the token until it is enabled.
#pragma once

#include "platform/win.h"

// Enables SeLoadDriverPrivilege in the process token (harmless where it is
// on already). False, and traced, when the token does not hold it: the
// spooler then refuses with ERROR_PRIVILEGE_NOT_HELD (1314).
bool EnableLoadDriverPrivilege();
