#include "uninstall/install_state.h"

#include "common/run_options.h"
#include "common/trace.h"
#include "uninstall/inventory.h"

InstallState ProbeInstallState(DWORD* error) {
  ScanDriverPackages();
  SetLastError(ERROR_SUCCESS);
  if (!ScanPrinterDrivers()) {
    const DWORD refusal = GetLastError();
    trace("The spooler did not list its drivers, errcode:%u; what is installed cannot be told.", refusal);
    if (error != nullptr) *error = refusal != ERROR_SUCCESS ? refusal : kInstallFailedExitCode;
    return InstallState::kUnknown;
  }
  return PackageList != nullptr && PackageList->driver_count != 0 ? InstallState::kInstalled
                                                                  : InstallState::kNotInstalled;
}
