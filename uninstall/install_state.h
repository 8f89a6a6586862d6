// Whether the driver family is already on this machine.
#pragma once

enum class InstallState { kNotInstalled, kInstalled };

// Installed when the first driver package found holds at least one of the
// family's printer drivers. Builds the package and driver inventory and leaves
// it in memory.
InstallState ProbeInstallState();
