#include "uninstall/install_state.h"

#include "uninstall/inventory.h"

InstallState ProbeInstallState() {
  ScanDriverPackages();
  ScanPrinterDrivers();
  return PackageList != nullptr && PackageList->driver_count != 0 ? InstallState::kInstalled
                                                                  : InstallState::kNotInstalled;
}
