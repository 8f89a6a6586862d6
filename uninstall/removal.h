// Removal of what the inventory found, bottom-up: each driver's queues, then
// the driver with its language monitor, then the package in the driver store;
// a component only once everything below it is gone. Then, once nothing
// failed, the monitor DLL and the install folder.
#pragma once

#include "platform/win.h"

// The HRESULT of ERROR_INF_IN_USE_BY_DEVICES: devices still use the INF.
constexpr HRESULT kInfInUseByDevices = static_cast<HRESULT>(0x800F023D);
// ERROR_PRINT_DRIVER_PACKAGE_IN_USE (3015), which the mingw headers lack: a
// driver from the package is still installed. DeletePrinterDriverPackage
// returns it as HRESULT_FROM_WIN32 (0x80070BC7); a bare 0xBC7 means the same.
constexpr DWORD kPrintDriverPackageInUse = 3015;

// One walk over the inventory, retrying only what is not yet removed; each
// node's outcome is written into the node. Posts progress positions to the
// bar and returns the number of failed deletions.
// `first_error`, when given, receives the error code the first failed
// node shows.
int RemoveInventory(HWND progress_bar, DWORD* first_error = nullptr);

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
