// The uninstall dialog: the component tree and its removal.
#pragma once

#include "common/text.h"
#include "platform/win.h"
#include "uninstall/uninstall_text.h"

struct DriverPackageNode;

// Posted by a worker when it has finished changing the inventory.
constexpr UINT kInventoryChanged = WM_USER + 1;

// The tree's two line buffers; only the dialog's own thread uses them.
extern UninstallText UninstallTextBuffer;
extern UninstallText TreeLineBuffer;

INT_PTR CALLBACK UninstallDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Thread procedure started when the dialog opens: builds the inventory.
DWORD WINAPI InventoryWorker(LPVOID dialog);

// Rebuilds tree view 1001 from the inventory: the folder line, then each
// package with its drivers and their queues, every package and driver expanded.
void FillComponentTree(HWND dialog, const DriverPackageNode* first);

// One worker at a time, and "Close" is refused while one runs: a run cut off
// could leave the spooler stopped. A run begins before its thread starts and
// ends after its last step.
bool BeginWorkerRun();
void EnableWorkerButtons(HWND dialog, BOOL enable);  // "Remove" and "Close"
void EndWorkerRun();
bool WorkerRunning();
