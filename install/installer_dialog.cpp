#include "install/installer_dialog.h"

#include "common/package.h"
#include "common/process.h"
#include "common/service_control.h"
#include "common/trace.h"
#include "install/install_worker.h"
#include "platform/os.h"
#include "resources/resource_ids.h"

namespace {

constexpr DWORD kWizardWindowWaitMs = 300;
// While the worker holds the spooler stopped, Cancel waits for the start:
// the dialog looks again this often.
constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT kCloseCheckMs = 100;

// The command line that opens the add-printer wizard on an INF file. Its
// buffer holds the longest system folder and INF path with room to spare.
// rundll32.exe is named by its full path: a program of that name beside ours
// would otherwise be the one started.
constexpr size_t kWizardCommandLineCapacity = 2 * kPathCapacity + 64;
bool FormatWizardCommandLine(WideText<kWizardCommandLineCapacity>& line, const wchar_t* inf_path) {
  line = {};
  WideText<kPathCapacity> system = {};
  const UINT length = os.GetSystemDirectoryW(system.data(), kPathCapacity);
  if (length == 0 || length >= kPathCapacity) return false;
  return BoundedFormat(line, L"\"%ws\\rundll32.exe\" printui.dll PrintUIEntry /ii /f \"%ws\"", system, inf_path);
}

void StartWizard() {
  WideText<kWizardCommandLineCapacity> line = {};
  if (DriverInfPath.empty() || !FormatWizardCommandLine(line, DriverInfPath.c_str())) {
    trace("Wizard not started: no driver INF path or system folder");
    return;
  }
  trace("Starting wizard: %ws", line);
  StartedProcess wizard;
  if (!StartProcess(line.data(), wizard)) {
    trace("Wizard could not be started, error:%u", GetLastError());
    return;
  }
  // One attempt to bring the wizard to the front, if its window is up by then.
  os.Sleep(kWizardWindowWaitMs);
  ForegroundProcessWindow(wizard.id);
}

struct WindowSearch {
  DWORD process_id;
  bool found;
};

BOOL CALLBACK ForegroundIfOwnedBy(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<WindowSearch*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->process_id) return TRUE;
  SetForegroundWindow(window);
  search->found = true;
  return FALSE;
}

}  // namespace

INT_PTR CALLBACK InstallerDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    // The worker runs until it is done or the process ends; its handle is not needed.
    if (!StartThread(InstallWorker, window)) {
      trace("Install worker could not be started, error:%u", GetLastError());
    }
  } else if (message == WM_COMMAND) {
    switch (LOWORD(wparam)) {
      case IDCANCEL:
        // Ending now would end the process with the spooler stopped.
        if (SpoolerHeldStopped()) {
          trace("Closing once the spooler runs again.");
          SetTimer(window, kCloseTimer, kCloseCheckMs, nullptr);
        } else {
          EndDialog(window, IDCANCEL);
        }
        break;
      case IDC_WIZARD:
        StartWizard();
        break;
    }
  } else if (message == WM_TIMER && wparam == kCloseTimer && !SpoolerHeldStopped()) {
    KillTimer(window, kCloseTimer);
    EndDialog(window, IDCANCEL);
  }
  return FALSE;
}

bool ForegroundProcessWindow(DWORD process_id) {
  WindowSearch search{process_id, false};
  EnumWindows(ForegroundIfOwnedBy, reinterpret_cast<LPARAM>(&search));
  return search.found;
}
