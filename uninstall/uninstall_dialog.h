// The uninstall dialog (105): the component tree, "Remove" and "Close".
#pragma once

#include "common/text.h"
#include "platform/win.h"
#include "uninstall/uninstall_text.h"

struct DriverPackageNode;

// The tree's two line buffers; only the dialog's own thread uses them.
extern UninstallText UninstallTextBuffer;
extern UninstallText TreeLineBuffer;

INT_PTR CALLBACK UninstallDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Rebuilds tree view 1001 from the inventory: the folder line, then each
// package with its drivers and their queues, every package and driver expanded.
void FillComponentTree(HWND dialog, const DriverPackageNode* first);
