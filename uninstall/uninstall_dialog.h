// The uninstall dialog: the component tree and its removal.
#pragma once

#include "platform/win.h"

INT_PTR CALLBACK UninstallDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
