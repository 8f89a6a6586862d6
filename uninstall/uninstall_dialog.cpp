#include "uninstall/uninstall_dialog.h"

INT_PTR CALLBACK UninstallDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) EndDialog(window, IDCANCEL);
  return FALSE;
}
