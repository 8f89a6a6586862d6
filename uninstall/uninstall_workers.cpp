#include "uninstall/uninstall_workers.h"

#include <atomic>

#include "common/package.h"
#include "common/process.h"
#include "common/run_options.h"
#include "common/service_control.h"
#include "common/trace.h"
#include "platform/os.h"
#include "resources/resource_ids.h"
#include "uninstall/inventory.h"
#include "uninstall/install_folder.h"
#include "uninstall/removal.h"
#include "uninstall/uninstall_text.h"

namespace {

std::atomic<bool> worker_running{false};

// "Remove" and "Close".
void EnableWorkerButtons(HWND dialog, BOOL enable) {
  EnableWindow(GetDlgItem(dialog, IDC_REMOVE), enable);
  EnableWindow(GetDlgItem(dialog, IDCANCEL), enable);
}

void PostPosition(HWND bar, int position) { PostMessageW(bar, PBM_SETPOS, position, 0); }

// The end of an uninstall without failures: nothing of the family is left
// but its monitor DLL and the install folder.
void FinishUninstall(HWND dialog) {
  DeleteMonitorFile(kMonitorDll);
  DeleteInstallFolder(dialog);

  UninstallText text;
  WideText<25> caption;
  LoadText(text, IDS_UNINSTALLED);
  FormatUninstallText(caption, IDS_MESSAGE_CAPTION);
  os.MessageBoxW(dialog, text.c_str(), caption.c_str(), MB_OK);
  // Nothing is left to do: the run ends here, and Close is accepted again.
  EndWorkerRun();
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

}  // namespace

bool BeginWorkerRun() {
  bool idle = false;
  return worker_running.compare_exchange_strong(idle, true);
}

void EndWorkerRun() { worker_running = false; }

bool WorkerRunning() { return worker_running; }

void StartWorker(HWND dialog, LPTHREAD_START_ROUTINE worker) {
  if (!BeginWorkerRun()) return;
  if (!StartThread(worker, dialog)) {
    trace("No worker thread, error %d", static_cast<int32_t>(GetLastError()));
    // An inventory that was never taken is not an empty one.
    if (worker == InventoryWorker) {
      InventoryReadFailed = true;
      PostMessageW(dialog, kInventoryChanged, 0, 0);
    }
    EndWorkerRun();
  }
}

DWORD WINAPI InventoryWorker(LPVOID parameter) {
  HWND dialog = static_cast<HWND>(parameter);
  EnableWorkerButtons(dialog, FALSE);
  HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
  ShowWindow(bar, SW_SHOW);
  SendMessageW(bar, PBM_SETPOS, 80, 0);
  // A stopped spooler lists nothing: it is started first.
  StartSpoolerIfStopped();
  TakeInventory();
  PostMessageW(dialog, kInventoryChanged, 0, 0);
  ShowWindow(bar, SW_HIDE);
  EndWorkerRun();
  EnableWorkerButtons(dialog, TRUE);
  return 0;
}

DWORD WINAPI RemovalWorker(LPVOID parameter) {
  HWND dialog = static_cast<HWND>(parameter);
  EnableWorkerButtons(dialog, FALSE);
  HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
  ShowWindow(bar, SW_SHOW);
  PostPosition(bar, 20);
  PostPosition(bar, 30);

  // An inventory that could not be read whole is taken again first, with
  // the spooler started: nothing is removed, and no folder deleted, on the
  // word of a partial one.
  const bool spooler_runs = StartSpoolerIfStopped() == ERROR_SUCCESS;
  if (InventoryReadFailed) {
    ForgetInventory();
    TakeInventory();
  }
  const int failures =
      !spooler_runs || InventoryReadFailed ? 1 : RemoveInventory(bar) + (SpoolerLeftStopped != ERROR_SUCCESS ? 1 : 0);

  PostPosition(bar, 100);
  PostMessageW(dialog, kInventoryChanged, 0, 0);
  ShowWindow(bar, SW_HIDE);
  if (failures != 0) {
    // The worker's own buffer: the dialog rebuilds its tree meanwhile.
    UninstallText text;
    LoadText(text, IDS_UNINSTALL_FAILED);
    os.MessageBoxW(dialog, text.c_str(), nullptr, MB_OK);
    EndWorkerRun();
    EnableWorkerButtons(dialog, TRUE);
    return 0;
  }
  // The buttons stay disabled: the final step must not be cut off, nor run
  // twice.
  FinishUninstall(dialog);
  return 0;
}
