// Removal of what the inventory found, bottom-up: each driver's queues, then
// the driver with its language monitor, then the package in the driver store;
// a component only once everything below it is gone. A run without failures
// ends the uninstall: the monitor DLL and the install folder are deleted and
// the dialog is closed.
#pragma once

#include "platform/win.h"

constexpr wchar_t kMonitorDll[] = L"vlm6mon.dll";
constexpr wchar_t kUninstallerName[] = L"unins000.exe";
// The HRESULT of ERROR_INF_IN_USE_BY_DEVICES: devices still use the INF.
constexpr HRESULT kInfInUseByDevices = static_cast<HRESULT>(0x800F023D);

// Thread procedure of the "Remove" button; parameter: the dialog.
DWORD WINAPI RemovalWorker(LPVOID dialog);

// Non-zero when the queue is gone (also when it was gone before); on failure
// `error` holds the code of the failed spooler call. Removes the queue's
// device nodes in every case.
DWORD DeletePrintQueue(const wchar_t* name, DWORD* error);

// Removes every device node, of any setup class and present or not, whose
// friendly name is the queue name. Returns the result of the last removal, or
// 0 when none was made.
BOOL RemoveQueueDevices(const wchar_t* name);

// Deletes the driver's monitor (if it names one) and the driver, restarting
// the spooler once when the driver is in use. Non-zero when the driver is gone;
// on failure `error` holds the code of the last failed deletion.
DWORD DeleteDriverAndMonitor(const DRIVER_INFO_8W& driver, DWORD* error);

// Deletes the file from the system directory while the spooler is stopped.
// Returns the result of starting the spooler again.
int DeleteMonitorFile(const wchar_t* file_name);

// Whether `folder` may be deleted as the install folder: an absolute path that
// is not a drive or share root, without wildcards or "." and ".." steps, that
// holds unins000.exe or vlm6v6.inf.
bool IsOwnInstallDirectory(const wchar_t* folder);

// Deletes InstallDirectory (when it is our own folder), says that the driver
// is uninstalled and closes the dialog.
void DeleteInstallDirectory(HWND dialog);
