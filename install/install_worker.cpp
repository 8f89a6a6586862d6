#include "install/install_worker.h"

// The search-and-install loop arrives with the install engine; until then the
// worker has nothing to do.
DWORD WINAPI InstallWorker(LPVOID) { return 0; }

INT_PTR CALLBACK InstallerDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) EndDialog(window, IDCANCEL);
  return FALSE;
}
