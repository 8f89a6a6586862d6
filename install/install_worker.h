// The install worker: searches for supported USB printers and installs each,
// reporting in the installer dialog or, without a window, only on the trace.
#pragma once

#include "common/run_options.h"
#include "discovery/supported_models.h"
#include "discovery/usb_printers.h"
#include "install/install_request.h"
#include "platform/win.h"

// In the installer dialog on a thread of its own (parameter: the dialog),
// silently on the main thread (parameter: null). Returns 0 once every
// supported printer of a pass is installed; after a failed install, the
// Windows error code that the failure message shows, or
// kInstallFailedExitCode when that code is 0.
DWORD WINAPI InstallWorker(LPVOID window);

// The request for an attached printer of a supported model: the model's
// name as driver and printer name, the device's port and hardware ID.
void FillInstallRequest(PrinterInstallRequest& request, const UsbPrinterDevice& device, const SupportedModel& model);

// Appends text at the end of an edit control, as one step the user cannot undo.
void AppendLogText(HWND edit, const wchar_t* text);

// Puts the driver package into the driver store without looking for a
// printer and without registering anything, so that Windows installs the
// driver by itself when a supported printer is plugged in later. 0, or the
// upload's HRESULT; 3014 under protected print mode, 206 without the INF path.
int StageDriverPackage();

// Whether a supported printer is attached that has no family queue on its
// port (an earlier run may have been ended before it made it, or the printer
// was plugged into another socket): then the install goes on even where the
// family counts as installed.
bool SupportedPrinterWithoutQueue();

// Installs every attached supported printer whose queue is missing, as the
// install does, without searching for one. ERROR_SUCCESS, or the error of
// the first that failed (1603 when it left none); the rest are not tried.
DWORD InstallPrintersWithoutQueue();
