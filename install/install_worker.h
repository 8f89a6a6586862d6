// The install worker and the installer dialog.
#pragma once

#include "platform/win.h"

// Searches for supported USB printers and installs each; in the installer
// dialog on a thread of its own (parameter: the dialog), silently on the main
// thread (parameter: null).
DWORD WINAPI InstallWorker(LPVOID window);

INT_PTR CALLBACK InstallerDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
