// The uninstall dialog's workers: the inventory run when the dialog opens and
// a removal run for each press of "Remove", one at a time, each on a thread
// of its own. While a run goes on, "Remove" and "Close" are disabled and
// Close is refused: a run cut off could leave the spooler stopped.
#pragma once

#include "platform/win.h"

// Posted by a worker when it has finished changing the inventory; the dialog
// then rebuilds its tree.
constexpr UINT kInventoryChanged = WM_USER + 1;

// Starts `worker` on a new thread with the dialog as its parameter, unless a
// run goes on already. The run begins before its thread starts and ends
// after its last step.
void StartWorker(HWND dialog, LPTHREAD_START_ROUTINE worker);
bool BeginWorkerRun();
void EndWorkerRun();
bool WorkerRunning();

// Thread procedure started when the dialog opens: builds the inventory.
DWORD WINAPI InventoryWorker(LPVOID dialog);

// Thread procedure of "Remove": removes what the inventory holds, bottom-up.
// A run without failures ends the uninstall: the monitor DLL and the install
// folder are deleted, the user is told, and the dialog is closed.
DWORD WINAPI RemovalWorker(LPVOID dialog);
