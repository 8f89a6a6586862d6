#include "install/install_worker.h"

#include "common/package.h"
#include "common/privilege.h"
#include "common/run_options.h"
#include "common/service_control.h"
#include "common/string_table.h"
#include "common/trace.h"
#include "discovery/supported_models.h"
#include "discovery/usb_printers.h"
#include "install/install_printer.h"
#include "install/install_request.h"
#include "install/print_policy.h"
#include "install/printer_queue.h"
#include "platform/os.h"
#include "resources/resource_ids.h"

namespace {

constexpr DWORD kSearchPauseMs = 1000;
constexpr ULONGLONG kStillSearchingMs = 60 * 1000;

// Room for every string-table text whole, the no-printer instruction of the
// longest translation included, and for the others with a printer name and
// port filled in.
using MessageText = WideText<kNoDeviceTextCapacity>;

// The dialog the worker shows its progress in; both handles are null
// without a window.
struct DialogView {
  HWND dialog;
  HWND progress;

  void Progress(int position) const {
    if (progress != nullptr) PostMessageW(progress, PBM_SETPOS, position, 0);
  }
  void Status(const wchar_t* text) const {
    if (dialog != nullptr) SetDlgItemTextW(dialog, IDC_STATUS, text);
  }
  // To the log and the status line.
  void Line(const wchar_t* text) const {
    if (dialog == nullptr) return;
    AppendLogText(GetDlgItem(dialog, IDC_LOG), text);
    Status(text);
  }
  void Show(int id, bool shown) const {
    if (dialog != nullptr) ShowWindow(GetDlgItem(dialog, id), shown ? SW_SHOW : SW_HIDE);
  }
  // Wizard and picture while no printer is found; log and progress bar once
  // one is.
  void FoundState(bool found) const {
    Show(IDC_WIZARD, !found);
    Show(IDC_PICTURE, !found);
    Show(IDC_LOG, found);
    if (progress != nullptr) ShowWindow(progress, found ? SW_SHOW : SW_HIDE);
  }
};

// Shows the failure with its error code and gives the worker's result.
DWORD ReportFailure(const DialogView& view, DWORD error) {
  MessageText text;
  MessageText message = {};
  LoadText(text, IDS_INSTALL_FAILED);
  BoundedFormat(message, text.c_str(), error);
  view.Line(message.c_str());
  view.Progress(100);
  return error != ERROR_SUCCESS ? error : kInstallFailedExitCode;
}

}  // namespace

void FillInstallRequest(PrinterInstallRequest& request, const UsbPrinterDevice& device, const SupportedModel& model) {
  request = {};
  BoundedFormat(request.driver_name, L"%ws %ws", model.manufacturer, model.model);
  BoundedFormat(request.printer_name, L"%ws %ws", model.manufacturer, model.model);
  BoundedCopy(request.port_name, device.port_name.c_str());
  BoundedCopy(request.hardware_id, device.hardware_id.c_str());
  request.flags = model.flags;
}

DWORD WINAPI InstallWorker(LPVOID parameter) {
  HWND dialog = static_cast<HWND>(parameter);
  const DialogView view{dialog, dialog != nullptr ? GetDlgItem(dialog, IDC_PROGRESS) : nullptr};
  MessageText text = {};
  MessageText message = {};

  // Before anything is changed: where Windows admits only its own drivers,
  // nothing of ours is tried, and the user is told why.
  if (ProtectedPrintModeOn()) {
    LoadText(text, IDS_PROTECTED_PRINT);
    // The log shows the whole text; the status line may be too short for it.
    view.Show(IDC_PICTURE, false);
    view.Show(IDC_LOG, true);
    view.Line(text.c_str());
    view.Progress(100);
    return kExitDriverBlocked;
  }
  const ULONGLONG search_start = os.GetTickCount64();
  ULONGLONG last_report = search_start;

  // Nothing can be installed without the spooler: one someone stopped is
  // started first.
  if (const DWORD spooler = StartSpoolerIfStopped(); spooler != ERROR_SUCCESS) return ReportFailure(view, spooler);

  if (!FormDriverInfPath()) {
    // Nothing may run on a cut path: neither the install nor the wizard.
    trace("Driver INF path does not fit, folder: %ws", InstallDirectory);
    return ReportFailure(view, ERROR_FILENAME_EXCED_RANGE);
  }

  if (dialog != nullptr) {
    // The bar shows positions. Common controls that know marquee mode ignore
    // every position of a bar whose template asks for it, so it is turned off.
    SetWindowLongPtrW(view.progress, GWL_STYLE,
                      GetWindowLongPtrW(view.progress, GWL_STYLE) & ~PBS_MARQUEE);
    ShowWindow(view.progress, SW_SHOW);
    view.Progress(100);
    LoadText(text, IDS_SEARCHING);
    view.Status(text.c_str());
    view.Show(IDC_PICTURE, false);
  }

  // Looking for new devices, and the driver calls, need SeLoadDriverPrivilege
  // enabled: once, before the first look.
  EnableLoadDriverPrivilege();
  bool found = false;
  int last_result = 0;
  do {
    EnumerateUsbPrinters(&UsbPrinterList);
    if (dialog != nullptr) SetDlgItemTextW(dialog, IDC_LOG, L"");

    for (const UsbPrinterDevice* device = UsbPrinterList; device != nullptr; device = device->next) {
      view.Progress(40);
      const SupportedModel* model = FindSupportedModel(device->port_description.c_str());
      if (model == nullptr) continue;
      found = true;

      PrinterInstallRequest request;
      FillInstallRequest(request, *device, *model);
      trace("Installing printer model: %ws, name: %ws, port: %ws", request.driver_name,
            request.printer_name, request.port_name);
      LoadText(text, IDS_FOUND_PRINTER);
      BoundedFormat(message, text.c_str(), request.printer_name, request.port_name);
      view.Line(message.c_str());
      if (dialog != nullptr) view.FoundState(true);

      DWORD error = ERROR_SUCCESS;
      last_result = InstallPrinter(&request, DriverInfPath.c_str(), &error);
      view.Progress(80);
      if (last_result == 0) {
        trace("Install failed, name: %ws, port: %ws, error:%u", request.printer_name,
              request.port_name, error);
        // A spooler we stopped and could not start again answers nothing:
        // that is the cause of whatever failed after it.
        if (SpoolerLeftStopped != ERROR_SUCCESS) {
          trace("The spooler was left stopped; the install failed.");
          error = SpoolerLeftStopped;
        }
        return ReportFailure(view, error);
      }
      LoadText(text, IDS_INSTALLED);
      BoundedFormat(message, text.c_str(), request.printer_name, request.port_name);
      view.Line(message.c_str());
    }

    if (dialog != nullptr) view.FoundState(found);
    if (!found) {
      LoadText(text, IDS_NO_DEVICE);
      view.Line(text.c_str());
      os.Sleep(kSearchPauseMs);
      ReenumerateDeviceTree(CM_REENUMERATE_SYNCHRONOUS);
      const ULONGLONG now = os.GetTickCount64();
      if (SearchTimeoutMs != 0 && now - search_start >= SearchTimeoutMs) {
        trace("No supported printer within %u s; the search ends.", SearchTimeoutMs / 1000);
        return ERROR_TIMEOUT;
      }
      // A silent search says, once a minute, that it still waits.
      if (dialog == nullptr && now - last_report >= kStillSearchingMs) {
        last_report = now;
        trace("Still searching for a supported printer, %u s so far.", static_cast<unsigned>((now - search_start) / 1000));
      }
    }
  } while (last_result == 0);

  // A spooler that we stopped and could not start again undoes the install.
  if (SpoolerLeftStopped != ERROR_SUCCESS) {
    trace("The spooler was left stopped; the install failed.");
    return ReportFailure(view, SpoolerLeftStopped);
  }

  if (dialog != nullptr) {
    view.Progress(100);
    LoadText(text, IDS_DONE);
    SetDlgItemTextW(dialog, IDCANCEL, text.c_str());
    // Windows' own restart question, in the user's language; none is shown
    // where Windows lacks the call.
    if (RestartNeeded) {
      trace("A restart is needed; asking.");
      os.RestartDialogEx(dialog, nullptr, EWX_REBOOT,
                         SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION | SHTDN_REASON_FLAG_PLANNED);
    }
  }
  return 0;
}

void AppendLogText(HWND edit, const wchar_t* text) {
  const int end = GetWindowTextLengthW(edit);
  SendMessageW(edit, EM_SETSEL, end, end);
  SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

int StageDriverPackage() {
  if (ProtectedPrintModeOn()) return static_cast<int>(kExitDriverBlocked);
  if (!FormDriverInfPath()) return ERROR_FILENAME_EXCED_RANGE;
  const HRESULT result = UploadDriverPackage(DriverInfPath.c_str());
  trace("Staging the driver package: %u (0x%08x)", static_cast<unsigned>(result), static_cast<unsigned>(result));
  return static_cast<int>(result);
}

namespace {

// Each attached supported printer whose queue is missing: `visit(request)`,
// until it answers false. Whether any was visited.
template <typename Visit>
bool ForEachPrinterWithoutQueue(Visit visit) {
  EnumerateUsbPrinters(&UsbPrinterList);
  bool any = false;
  for (const UsbPrinterDevice* device = UsbPrinterList; device != nullptr; device = device->next) {
    const SupportedModel* model = FindSupportedModel(device->port_description.c_str());
    if (model == nullptr) continue;
    PrinterInstallRequest request;
    FillInstallRequest(request, *device, *model);
    if (QueueOnPort(request)) continue;
    trace("%ws on %ws has no queue yet; the install goes on.", request.printer_name, request.port_name);
    any = true;
    if (!visit(request)) break;
  }
  return any;
}

}  // namespace

bool SupportedPrinterWithoutQueue() {
  return ForEachPrinterWithoutQueue([](const PrinterInstallRequest&) { return false; });
}

DWORD InstallPrintersWithoutQueue() {
  DWORD failure = ERROR_SUCCESS;
  ForEachPrinterWithoutQueue([&](PrinterInstallRequest& request) {
    DWORD error = ERROR_SUCCESS;
    if (InstallPrinter(&request, DriverInfPath.c_str(), &error) != 0) return true;
    trace("Install failed, name: %ws, port: %ws, error:%u", request.printer_name, request.port_name, error);
    failure = error != ERROR_SUCCESS ? error : kInstallFailedExitCode;
    return false;
  });
  return failure;
}
