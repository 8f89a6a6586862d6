#include "uninstall/silent_uninstall.h"

#include "common/package.h"
#include "common/run_options.h"
#include "common/service_control.h"
#include "common/trace.h"
#include "uninstall/install_folder.h"
#include "uninstall/inventory.h"
#include "uninstall/removal.h"

SilentUninstallResult SilentUninstall(bool delete_folder) {
  if (const DWORD spooler = StartSpoolerIfStopped(); spooler != ERROR_SUCCESS) {
    return {static_cast<int>(spooler), false};
  }
  if (!TakeInventory()) return {static_cast<int>(kInstallFailedExitCode), false};
  DWORD first_error = ERROR_SUCCESS;
  if (RemoveInventory(nullptr, &first_error) != 0) {
    trace("Uninstall failed, error:%u", first_error);
    return {first_error != ERROR_SUCCESS ? static_cast<int>(first_error) : static_cast<int>(kInstallFailedExitCode),
            false};
  }
  DeleteMonitorFile(kMonitorDll);
  if (SpoolerLeftStopped != ERROR_SUCCESS) {
    trace("Uninstall failed: the spooler was left stopped, error:%u", SpoolerLeftStopped);
    return {static_cast<int>(SpoolerLeftStopped), false};
  }
  if (delete_folder) DeleteInstallFolder(nullptr);
  trace("Uninstalled%ws.", RestartNeeded ? L", a file goes at the next start" : L"");
  return {SuccessExitCode(), true};
}
