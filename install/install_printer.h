// Making sure one recognised printer has its print queue.
#pragma once

#include "install/install_request.h"
#include "platform/win.h"

// 0: no queue could be made; `error` (and the thread's last error) then
// holds the error of the first step of the direct registration that failed.
// 3: a family queue sat on the printer's port before and nothing was done;
// any other value: the queue is there, moved from the port the printer left
// or made (named "<model> (Copy n)" where the model's name is taken, the
// request's printer name then rewritten).
int InstallPrinter(PrinterInstallRequest* request, const wchar_t* inf_path, DWORD* error = nullptr);
int DoUploadDriverPackage(const wchar_t* inf_path);
// Where the upload says the package's INF now lies in the driver store.
constexpr size_t kStorePathTextCapacity = 260;
using StorePathText = WideText<kStorePathTextCapacity>;
// The upload itself: its HRESULT, traced; the package's INF path in the
// driver store into `uploaded` (empty unless the upload succeeded).
HRESULT UploadDriverPackage(const wchar_t* inf_path, StorePathText* uploaded = nullptr);
// Binds the package to the devices of that hardware ID through Plug and
// Play; `replace_newer` (INSTALLFLAG_FORCE) also over a driver that ranks
// better, as only an upgrade may. The result is traced, a restart Windows
// asks for noted in RestartNeeded.
void BindToPackage(const wchar_t* hardware_id, const wchar_t* inf_path, bool replace_newer);
// Asks Windows to look for new devices from the root of the device tree;
// Both CM_REENUMERATE_NORMAL and CM_REENUMERATE_SYNCHRONOUS return once the
// tree has been enumerated again (CM_REENUMERATE_ASYNCHRONOUS would not wait).
void ReenumerateDeviceTree(ULONG flags = CM_REENUMERATE_NORMAL);
int PortExists(const wchar_t* port_name);
