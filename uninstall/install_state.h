// Whether the driver family is already on this machine.
#pragma once

#include "platform/win.h"

enum class InstallState { kNotInstalled, kInstalled, kUnknown };

// Installed when the first driver package found holds at least one of the
// family's printer drivers. Builds the package and driver inventory and leaves
// it in memory. kUnknown when the spooler did not list its drivers (a spooler
// that does not run lists none): nothing can be told then, and `error`
// receives why (1603 when Windows said nothing).
InstallState ProbeInstallState(DWORD* error = nullptr);
