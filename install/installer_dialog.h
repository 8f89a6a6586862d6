// The installer dialog (106): it starts the install worker when it opens,
// ends on Cancel (or Done), and hands over to the Windows add-printer wizard
// on Wizard.
#pragma once

#include "common/text.h"
#include "platform/win.h"

INT_PTR CALLBACK InstallerDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Brings the first top-level window of that process to the front; false when
// the process has no window (yet).
bool ForegroundProcessWindow(DWORD process_id);
