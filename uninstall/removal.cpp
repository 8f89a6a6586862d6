#include "uninstall/removal.h"

#include "common/privilege.h"

#include <commctrl.h>

#include <cwchar>

#include "common/package.h"
#include "common/print_jobs.h"
#include "common/run_options.h"
#include "common/scoped_handle.h"
#include "common/service_control.h"
#include "common/trace.h"
#include "platform/os.h"
#include "resources/resource_ids.h"
#include "uninstall/inventory.h"
#include "uninstall/uninstall_text.h"

namespace {

constexpr DWORD kPauseAfterRemoval = 300;
constexpr DWORD kPauseAfterFailedTry = 1000;
constexpr int kDriverTries = 10;
constexpr int kPackageTries = 5;
constexpr int kMonitorFileTries = 5;
constexpr size_t kFriendlyNameCapacity = 255;

// Without a window there is no bar; a post to no window would reach the
// thread's own queue.
void PostPosition(HWND bar, int position) {
  if (bar != nullptr) PostMessageW(bar, PBM_SETPOS, position, 0);
}

// The code the first failed node of a walk shows.
DWORD g_first_failure = ERROR_SUCCESS;
bool g_failed = false;
void NoteFailure(DWORD error) {
  if (g_failed) return;
  g_failed = true;
  g_first_failure = error;
}

void MarkRemoved(WideText<kStatusTextCapacity>& status) {
  FormatUninstallText(status, IDS_REMOVED);
}

void MarkFailed(WideText<kStatusTextCapacity>& status, int32_t error) {
  FormatUninstallText(status, IDS_REMOVE_FAILED, error);
}

// Each queue of the driver not yet removed; returns the failures.
int RemoveQueues(PrinterDriverNode& driver) {
  int failures = 0;
  // A node without queue information ends the walk.
  for (PrinterQueueNode* queue = driver.queues; queue != nullptr && queue->queue_info != nullptr;
       queue = queue->next) {
    if (queue->removed != 0) continue;
    DWORD error = 0;
    queue->removed = DeletePrintQueue(queue->queue_info->pPrinterName, &error);
    if (queue->removed != 0) {
      MarkRemoved(queue->status);
      --driver.queue_count;
      os.Sleep(kPauseAfterRemoval);
    } else {
      MarkFailed(queue->status, static_cast<int32_t>(error));
      NoteFailure(error);
      ++failures;
    }
  }
  return failures;
}

// The driver, once its queues are gone; returns 1 on failure.
int RemoveDriver(DriverPackageNode& package, PrinterDriverNode& driver) {
  if (driver.queue_count != 0 || driver.driver_info == nullptr || driver.removed != 0) return 0;
  DWORD error = 0;
  for (int attempt = 0; attempt < kDriverTries; ++attempt) {
    driver.removed = DeleteDriverAndMonitor(*driver.driver_info, &error);
    if (driver.removed != 0) break;
    os.Sleep(kPauseAfterFailedTry);
  }
  if (driver.removed == 0) {
    trace("Removing printer driver %ws failed, error %d", driver.driver_info->pName,
          static_cast<int32_t>(error));
    MarkFailed(driver.status, static_cast<int32_t>(error));
    NoteFailure(error);
    return 1;
  }
  MarkRemoved(driver.status);
  --package.driver_count;
  os.Sleep(kPauseAfterRemoval);
  return 0;
}

// Whether the package's INF is no longer in the driver store.
bool StoreInfGone(const wchar_t* store_path) {
  if (os.GetFileAttributesW(store_path) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The package in the driver store, once its drivers are gone; returns 1 on
// failure.
int RemovePackage(DriverPackageNode& package) {
  if (package.driver_count != 0 || package.store_path.empty() || package.removed != 0) return 0;
  HRESULT result = S_OK;
  for (int attempt = 1; attempt <= kPackageTries; ++attempt) {
    result = os.DeletePrinterDriverPackageW(nullptr, package.store_path.c_str(), MachineEnvironment());
    const bool in_use = result == kInfInUseByDevices || result == HRESULT_FROM_WIN32(kPrintDriverPackageInUse) ||
                        result == static_cast<HRESULT>(kPrintDriverPackageInUse);
    if (!in_use) break;
    os.Sleep(kPauseAfterFailedTry);
  }
  // Gone already (an earlier run deleted it and was ended before it was
  // done): what Windows answers then differs, the store's INF being gone
  // does not.
  if (result != S_OK && StoreInfGone(package.store_path.c_str())) {
    trace("Driver package %ws is gone already (%u, 0x%08x).", package.store_path, static_cast<unsigned>(result),
          static_cast<unsigned>(result));
    result = S_OK;
  }
  if (result != S_OK) {
    trace("Removing driver package %ws failed, %u (0x%08x)", package.store_path, static_cast<unsigned>(result), static_cast<unsigned>(result));
    MarkFailed(package.status, static_cast<int32_t>(result));
    NoteFailure(static_cast<DWORD>(result));
    return 1;
  }
  package.removed = 1;
  MarkRemoved(package.status);
  return 0;
}

// Runs while the spooler is stopped (stopped false: the spooler did not stop,
// and the file is left alone).
void DeleteFromSystemDirectory(const wchar_t* file_name, bool stopped) {
  PathText path = {};
  if (!stopped) {
    trace("The spooler did not stop; %ws stays", file_name);
  } else if (!SystemFilePath(path, file_name)) {
    trace("No path for %ws in the system folder", file_name);
  } else {
    for (int attempt = 0; attempt < kMonitorFileTries; ++attempt) {
      if (os.DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return;
      os.Sleep(kPauseAfterFailedTry);
    }
    // Held by someone else: Windows deletes it at the next start.
    const BOOL scheduled = os.MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    trace("%ws stays in use; deleting it at the next start: %d", path, scheduled);
    if (scheduled) RestartNeeded = true;
  }
}

}  // namespace

int RemoveInventory(HWND bar, DWORD* first_error) {
  g_failed = false;
  g_first_failure = ERROR_SUCCESS;
  int failures = 0;
  for (DriverPackageNode* package = PackageList; package != nullptr; package = package->next) {
    for (PrinterDriverNode* driver = package->drivers; driver != nullptr; driver = driver->next) {
      failures += RemoveQueues(*driver);
      PostPosition(bar, 60);
      failures += RemoveDriver(*package, *driver);
    }
    PostPosition(bar, 80);
    failures += RemovePackage(*package);
  }
  if (first_error != nullptr) *first_error = g_first_failure;
  return failures;
}


DWORD DeletePrintQueue(const wchar_t* name, DWORD* error) {
  DWORD result = 0;
  DWORD failure = ERROR_SUCCESS;
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  ScopedPrinter printer;
  if (os.OpenPrinterW(const_cast<LPWSTR>(name), printer.receive(), &defaults)) {
    // Pending jobs would keep the queue alive.
    os.SetPrinterW(printer.get(), 0, nullptr, PRINTER_CONTROL_PURGE);
    result = os.DeletePrinter(printer.get());
    if (result == 0) failure = GetLastError();
    printer.reset();
  } else {
    failure = GetLastError();
    // Already gone: deleted by other means, or standing twice in the tree.
    result = failure == ERROR_INVALID_PRINTER_NAME ? 1 : 0;
  }
  if (result == 0) trace("Removing printer %ws failed, error %d", name, static_cast<int32_t>(failure));
  RemoveQueueDevices(name);
  if (error != nullptr) *error = result != 0 ? ERROR_SUCCESS : failure;
  return result;
}

BOOL RemoveQueueDevices(const wchar_t* name) {
  DWORD count = 0;
  os.SetupDiClassGuidsFromNameW(L"PrintQueue", nullptr, 0, &count);
  if (count == 0) return FALSE;
  auto guids = LocalBlock<GUID>::Allocate(count * sizeof(GUID));
  if (!guids) return FALSE;
  if (!os.SetupDiClassGuidsFromNameW(L"PrintQueue", guids.get(), count, &count)) return FALSE;

  ScopedDeviceInfoSet devices(
      os.SetupDiGetClassDevsExW(guids.get(), nullptr, nullptr, DIGCF_ALLCLASSES, nullptr, nullptr, nullptr));
  if (!devices) return FALSE;
  BOOL result = FALSE;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof(device);
  for (DWORD index = 0; os.SetupDiEnumDeviceInfo(devices.get(), index, &device); ++index) {
    // The set holds the devices of every setup class: only print queues go.
    bool print_queue = false;
    for (DWORD i = 0; i < count; ++i) print_queue = print_queue || IsEqualGUID(device.ClassGuid, guids.get()[i]);
    WideText<kFriendlyNameCapacity> friendly = {};
    os.SetupDiGetDeviceRegistryPropertyW(devices.get(), &device, SPDRP_FRIENDLYNAME, nullptr,
                                         reinterpret_cast<PBYTE>(friendly.data()),
                                         sizeof(friendly.chars), nullptr);
    friendly.chars[kFriendlyNameCapacity - 1] = L'\0';
    if (print_queue && friendly.equals(name)) {
      result = os.SetupDiRemoveDevice(devices.get(), &device);
      trace("Removing device %ws: %d", name, result);
    }
    device = {};
    device.cbSize = sizeof(device);
  }
  return result;
}

DWORD DeleteDriverAndMonitor(const DRIVER_INFO_8W& driver, DWORD* error) {
  // A monitor that is still in use stays; the driver deletion decides.
  EnableLoadDriverPrivilege();
  const auto environment = const_cast<LPWSTR>(MachineEnvironment());
  if (driver.pMonitorName != nullptr) os.DeleteMonitorW(nullptr, environment, driver.pMonitorName);
  DWORD result = os.DeletePrinterDriverExW(nullptr, environment, driver.pName, DPD_DELETE_UNUSED_FILES, 0);
  if (result == 0 && GetLastError() == ERROR_PRINTER_DRIVER_IN_USE) {
    RestartSpooler();
    result = os.DeletePrinterDriverExW(nullptr, environment, driver.pName, DPD_DELETE_UNUSED_FILES, 0);
  }
  DWORD failure = ERROR_SUCCESS;
  if (result == 0) {
    failure = GetLastError();
    if (failure == ERROR_UNKNOWN_PRINTER_DRIVER) result = 1;  // already gone
  }
  if (error != nullptr) *error = result != 0 ? ERROR_SUCCESS : failure;
  return result;
}

int DeleteMonitorFile(const wchar_t* file_name) {
  // A stop now would make a printing job print again from its first page:
  // the file goes at the next start instead.
  PathText path = {};
  if (FindPrintingJob() == JobsPrinting::kPrinting && SystemFilePath(path, file_name) &&
      os.GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    const BOOL scheduled = os.MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    trace("A job is printing: %ws is deleted at the next start, and the spooler is not stopped: %d", path, scheduled);
    if (scheduled) RestartNeeded = true;
    return 1;
  }
  bool stop_sent = false;
  const int running = RunWithSpoolerStopped(DeleteFromSystemDirectory, file_name, &stop_sent);
  if (!stop_sent) trace("The spooler was not stopped; %ws stays", file_name);
  return running;
}

