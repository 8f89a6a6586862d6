#include "install/install_worker.h"

#include "common/scoped_handle.h"
#include "common/strings.h"
#include "common/trace.h"
#include "discovery/supported_models.h"
#include "discovery/usb_printers.h"
#include "install/install_printer.h"
#include "install/install_request.h"
#include "platform/os.h"
#include "resources/resource_ids.h"

WideText<kPathCapacity> DriverInfPath = {};

namespace {

constexpr wchar_t kInfFileName[] = L"vlm6v6.inf";
constexpr DWORD kSearchPauseMs = 1000;
constexpr DWORD kWizardWindowWaitMs = 300;

// Room for every string-table text whole, the no-printer instruction of the
// longest translation included, and for the others with a printer name and
// port filled in.
using MessageText = WideText<kNoDeviceTextCapacity>;

// The dialog the worker reports to; both handles are null without a window.
struct Report {
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
DWORD Fail(const Report& report, DWORD error) {
  MessageText text;
  MessageText message = {};
  LoadText(text, IDS_INSTALL_FAILED);
  BoundedFormat(message, text.c_str(), error);
  report.Line(message.c_str());
  report.Progress(100);
  return error != ERROR_SUCCESS ? error : kInstallFailedExitCode;
}

void FillRequest(PrinterInstallRequest& request, const UsbPrinterDevice& device,
                 const SupportedModel& model) {
  request = {};
  BoundedFormat(request.driver_name, L"%ws %ws", model.manufacturer, model.model);
  BoundedFormat(request.printer_name, L"%ws %ws", model.manufacturer, model.model);
  BoundedCopy(request.port_name, device.port_name.c_str());
  BoundedCopy(request.hardware_id, device.hardware_id.c_str());
  request.flags = model.flags;
}

// Asks Windows to look for newly attached devices and waits until it has.
void ReenumerateDeviceTreeAndWait() {
  DEVINST root = 0;
  if (os.CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL) == CR_SUCCESS) {
    os.CM_Reenumerate_DevNode(root, CM_REENUMERATE_SYNCHRONOUS);
  }
}

void StartWizard() {
  WideText<kWizardCommandLineCapacity> line = {};
  if (DriverInfPath.empty() || !FormatWizardCommandLine(line, DriverInfPath.c_str())) {
    trace("Wizard not started: no driver INF path");
    return;
  }
  trace("Starting wizard: %ws", line);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!os.CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &process)) {
    trace("Wizard could not be started, error:%u", GetLastError());
    return;
  }
  ScopedKernelHandle process_handle(process.hProcess);
  ScopedKernelHandle thread_handle(process.hThread);
  // One attempt to bring the wizard to the front, if its window is up by then.
  os.Sleep(kWizardWindowWaitMs);
  ForegroundProcessWindow(process.dwProcessId);
}

struct WindowSearch {
  DWORD process_id;
  bool found;
};

BOOL CALLBACK ForegroundIfOwnedBy(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<WindowSearch*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->process_id) return TRUE;
  SetForegroundWindow(window);
  search->found = true;
  return FALSE;
}

}  // namespace

DWORD WINAPI InstallWorker(LPVOID parameter) {
  HWND dialog = static_cast<HWND>(parameter);
  const Report report{dialog, dialog != nullptr ? GetDlgItem(dialog, IDC_PROGRESS) : nullptr};
  MessageText text = {};
  MessageText message = {};

  if (!BoundedFormat(DriverInfPath, L"%ws%ws", InstallDirectory, kInfFileName)) {
    // Nothing may run on a cut path: neither the install nor the wizard.
    DriverInfPath.clear();
    trace("Driver INF path does not fit, folder: %ws", InstallDirectory);
    return Fail(report, ERROR_FILENAME_EXCED_RANGE);
  }

  if (dialog != nullptr) {
    // The bar shows positions. Common controls that know marquee mode ignore
    // every position of a bar whose template asks for it, so it is turned off.
    SetWindowLongPtrW(report.progress, GWL_STYLE,
                      GetWindowLongPtrW(report.progress, GWL_STYLE) & ~PBS_MARQUEE);
    ShowWindow(report.progress, SW_SHOW);
    report.Progress(100);
    LoadText(text, IDS_SEARCHING);
    report.Status(text.c_str());
    report.Show(IDC_PICTURE, false);
  }

  bool found = false;
  int last_result = 0;
  do {
    EnumerateUsbPrinters(&UsbPrinterList);
    if (dialog != nullptr) SetDlgItemTextW(dialog, IDC_LOG, L"");

    for (const UsbPrinterDevice* device = UsbPrinterList; device != nullptr; device = device->next) {
      report.Progress(40);
      const SupportedModel* model = FindSupportedModel(device->port_description.c_str());
      if (model == nullptr) continue;
      found = true;

      PrinterInstallRequest request;
      FillRequest(request, *device, *model);
      trace("Installing printer model: %ws, name: %ws, port: %ws", request.driver_name,
            request.printer_name, request.port_name);
      LoadText(text, IDS_FOUND_PRINTER);
      BoundedFormat(message, text.c_str(), request.printer_name, request.port_name);
      report.Line(message.c_str());
      if (dialog != nullptr) report.FoundState(true);

      last_result = InstallPrinter(&request, DriverInfPath.c_str());
      // Read before any other call can overwrite it.
      const DWORD error = GetLastError();
      report.Progress(80);
      if (last_result == 0) {
        trace("Install failed, name: %ws, port: %ws, error:%u", request.printer_name,
              request.port_name, error);
        return Fail(report, error);
      }
      LoadText(text, IDS_INSTALLED);
      BoundedFormat(message, text.c_str(), request.printer_name, request.port_name);
      report.Line(message.c_str());
    }

    if (dialog != nullptr) report.FoundState(found);
    if (!found) {
      LoadText(text, IDS_NO_DEVICE);
      report.Line(text.c_str());
      os.Sleep(kSearchPauseMs);
      ReenumerateDeviceTreeAndWait();
    }
  } while (last_result == 0);

  if (dialog != nullptr) {
    report.Progress(100);
    LoadText(text, IDS_DONE);
    SetDlgItemTextW(dialog, IDC_CANCEL, text.c_str());
  }
  return 0;
}

INT_PTR CALLBACK InstallerDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    // The worker runs until it is done or the process ends; its handle is not needed.
    HANDLE worker = CreateThread(nullptr, 0, InstallWorker, window, 0, nullptr);
    if (worker != nullptr) {
      CloseHandle(worker);
    } else {
      trace("Install worker could not be started, error:%u", GetLastError());
    }
  } else if (message == WM_COMMAND) {
    switch (LOWORD(wparam)) {
      case IDC_CANCEL:
        EndDialog(window, IDC_CANCEL);
        break;
      case IDC_WIZARD:
        StartWizard();
        break;
    }
  }
  return FALSE;
}

void AppendLogText(HWND edit, const wchar_t* text) {
  const int end = GetWindowTextLengthW(edit);
  SendMessageW(edit, EM_SETSEL, end, end);
  SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

bool ForegroundProcessWindow(DWORD process_id) {
  WindowSearch search{process_id, false};
  EnumWindows(ForegroundIfOwnedBy, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool FormatWizardCommandLine(WideText<kWizardCommandLineCapacity>& line, const wchar_t* inf_path) {
  line = {};
  return BoundedFormat(line, L"rundll32.exe printui.dll PrintUIEntry /ii /f \"%ws\"", inf_path);
}
