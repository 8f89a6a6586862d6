#include "install/install_printer.h"

#include "common/package.h"
#include "common/privilege.h"
#include "common/run_options.h"
#include "common/service_control.h"
#include "common/spooler_listing.h"
#include "common/trace.h"
#include "discovery/supported_models.h"
#include "discovery/usb_printers.h"
#include "install/file_staging.h"
#include "install/printer_queue.h"
#include "install/register_printer.h"

namespace {

constexpr int kQueueChecks = 10;
constexpr DWORD kQueueCheckPause = 1000;
constexpr ULONG kUploadedInfPathCapacity = kStorePathTextCapacity;
// UPDP_UPLOAD_ALWAYS of winspool.h, which the mingw headers lack: upload even
// when the store holds the package already.
constexpr DWORD kUploadAlways = 0x00000002;
// UPDP_SILENT_UPLOAD: no window of the upload's own.
constexpr DWORD kSilentUpload = 0x00000001;

// After the binding Windows makes the queue by itself; the language monitor
// it needs is put in place as soon as the queue is seen. A model without the
// monitor just waits the whole time.
void WaitForQueue(const PrinterInstallRequest& request) {
  for (int i = 0; i < kQueueChecks; ++i) {
    if (QueueOnPort(request) && (request.flags & MODEL_FLAG_LANGUAGE_MONITOR) != 0) {
      StageArchitectureFile(kMonitorDll);
      return;
    }
    os.Sleep(kQueueCheckPause);
  }
}

// A printer found on a port its queue is not on: the queue that waits for it
// on a port no attached printer uses goes with it. Whether it moved.
bool MoveQueueHere(const PrinterQueue& queue, const PrinterInstallRequest& request) {
  const DWORD moved = MoveQueueToPort(queue.name.c_str(), request.port_name.c_str());
  if (moved != ERROR_SUCCESS) {
    trace("The queue %ws could not be moved from %ws to %ws, error:%u; a queue is made for the printer.", queue.name,
          queue.port, request.port_name, moved);
    return false;
  }
  trace("The printer %ws moved from %ws to %ws: its queue %ws moved with it, with its name, comment, sharing and "
        "settings.",
        request.printer_name, queue.port, request.port_name, queue.name);
  return true;
}

}  // namespace

int DoUploadDriverPackage(const wchar_t* inf_path) { return UploadDriverPackage(inf_path) == S_OK ? 1 : 0; }

HRESULT UploadDriverPackage(const wchar_t* inf_path, StorePathText* uploaded) {
  StorePathText store_path = {};
  ULONG capacity = kUploadedInfPathCapacity;
  const DWORD flags = kUploadAlways | (SilentRun ? kSilentUpload : 0);
  const HRESULT result = os.UploadPrinterDriverPackageW(nullptr, inf_path, MachineEnvironment(), flags, nullptr,
                                                        store_path.chars, &capacity);
  // Whatever the call wrote, the text ends inside its field.
  store_path.chars[kUploadedInfPathCapacity - 1] = L'\0';
  trace("DoUploadDriverPackage, %ws, code:%u (0x%08x).", store_path, static_cast<unsigned>(result), static_cast<unsigned>(result));
  if (uploaded != nullptr) *uploaded = result == S_OK ? store_path : StorePathText{};
  // From here on the package's files come from the copy Windows checked.
  if (result == S_OK) UseVerifiedPackage(store_path.c_str());
  return result;
}

void BindToPackage(const wchar_t* hardware_id, const wchar_t* inf_path, bool replace_newer) {
  // The package's INF beside the tool, not its copy in the driver store.
  // Silently, Windows asks nobody for the driver. A restart it needs is
  // handed back (with a null pointer Windows would ask for it itself, in
  // the middle of the install) and asked for at the end. Only an upgrade
  // forces the package on the device: forced, it would also replace a newer
  // driver.
  BOOL restart = FALSE;
  SetLastError(ERROR_SUCCESS);
  const DWORD flags = (replace_newer ? INSTALLFLAG_FORCE : 0) | (SilentRun ? INSTALLFLAG_NONINTERACTIVE : 0);
  const BOOL bound = os.UpdateDriverForPlugAndPlayDevicesW(nullptr, hardware_id, inf_path, flags, &restart);
  const DWORD binding_error = bound ? ERROR_SUCCESS : GetLastError();
  trace("Binding %ws to the package: %d, errcode:%u%ws%ws", hardware_id, bound, binding_error,
        binding_error == ERROR_NO_SUCH_DEVINST  ? L" (no device has that hardware ID)"
        : binding_error == ERROR_NO_MORE_ITEMS ? L" (the driver installed ranks as well or better)"
                                               : L"",
        restart ? L", restart needed" : L"");
  if (restart) RestartNeeded = true;
}

void ReenumerateDeviceTree(ULONG flags) {
  DEVINST root = 0;
  if (os.CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS) return;
  const CONFIGRET result = os.CM_Reenumerate_DevNode(root, flags);
  // Once a run: the search asks every second.
  if (result != CR_SUCCESS && !RescanRefusalTraced) {
    RescanRefusalTraced = true;
    trace("Windows refused to look for new devices, CONFIGRET %u.", static_cast<unsigned>(result));
  }
}

int PortExists(const wchar_t* port_name) {
  if (port_name == nullptr) return 0;
  const bool listed = AnyListedRecord<PORT_INFO_2W>(
      [](LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD count) {
        return os.EnumPortsW(nullptr, 2, buffer, size, needed, count);
      },
      [&](const PORT_INFO_2W& port) {
        return port.pPortName != nullptr && std::wcscmp(port.pPortName, port_name) == 0;
      });
  return listed ? 1 : 0;
}

int InstallPrinter(PrinterInstallRequest* request, const wchar_t* inf_path, DWORD* error) {
  if (error != nullptr) *error = ERROR_SUCCESS;
  if (request == nullptr) {
    if (error != nullptr) *error = ERROR_INVALID_PARAMETER;
    return 0;
  }
  // The device may have been seen again since the request was made.
  if (const UsbPrinterDevice* device = FindUsbPrinterByPort(UsbPrinterList, request->port_name.chars)) {
    BoundedCopy(request->hardware_id, device->hardware_id.chars);
  }
  // The family's queue on the printer's port, whatever its name, is left as it is.
  const PrinterQueue queue = FindPrinterQueue(*request);
  if (queue.found == PrinterQueue::Found::kOnPort) return 3;

  int result = queue.found == PrinterQueue::Found::kMovable && MoveQueueHere(queue, *request) ? 1 : 0;
  if (result == 0) {
    // The spooler would answer for a queue of that name elsewhere as if it
    // were this printer's.
    if (queue.new_name.empty()) {
      trace("No name is free for a queue of %ws on %ws.", request->printer_name, request->port_name);
      if (error != nullptr) *error = ERROR_PRINTER_ALREADY_EXISTS;
      SetLastError(ERROR_PRINTER_ALREADY_EXISTS);
      return 0;
    }
    if (!queue.new_name.equals(request->printer_name.chars)) {
      trace("A queue named %ws prints elsewhere; the queue on %ws is named %ws.", request->printer_name,
            request->port_name, queue.new_name);
      BoundedCopy(request->printer_name, queue.new_name.c_str());
    }
    StorePathText store_path;
    if (UploadDriverPackage(inf_path, &store_path) == S_OK) {
      // Looking for the device needs SeLoadDriverPrivilege enabled.
      EnableLoadDriverPrivilege();
      ReenumerateDeviceTree();
      BindToPackage(request->hardware_id.chars, inf_path, false);
      WaitForQueue(*request);
    }

    result = QueueOnPort(*request) ? 1 : 0;
    // The upload and the binding are tries with a fallback; what the fallback
    // failed on is the cause.
    DWORD cause = ERROR_SUCCESS;
    if (result == 0) result = RegisterPrinterManually(request, &cause, store_path.c_str());
    if (result == 0) {
      if (error != nullptr) *error = cause;
      SetLastError(cause);
      return 0;
    }
  }
  // The spooler learns a new USB port only when it starts.
  if (!PortExists(request->port_name.chars)) {
    trace("Port %ws not listed, restarting the spooler.", request->port_name);
    RestartSpoolerWithAction(nullptr, nullptr);
  }
  return result;
}
