#include "install/check_repair.h"

#include <cwchar>

#include "app/uninstaller_handover.h"
#include "common/file_compare.h"
#include "common/package.h"
#include "common/pending_renames.h"
#include "common/run_options.h"
#include "common/service_control.h"
#include "common/spooler_listing.h"
#include "common/standard_output.h"
#include "common/trace.h"
#include "discovery/supported_models.h"
#include "discovery/usb_printers.h"
#include "install/file_staging.h"
#include "install/install_worker.h"
#include "install/print_policy.h"
#include "install/printer_queue.h"
#include "install/register_printer.h"
#include "install/upgrade.h"
#include "platform/os.h"
#include "uninstall/install_state.h"
#include "uninstall/inventory.h"

namespace {

constexpr size_t kSummaryCapacity = 900;
using LineText = WideText<512>;

// What the check found, by what mends it.
struct Findings {
  bool installed = false;
  int stop_code = 0;  // the check could not go on: its exit code
  int problems = 0;
  bool drivers = false;  // a driver older, a file of it not this package's, or no package in the store
  bool monitor_dll = false;
  bool monitor_registration = false;
  bool queues = false;
  bool leftovers = false;
  bool waiting = false;  // only the next start mends it
  bool stopped = false;  // what stopped the check
  WideText<kSummaryCapacity> summary = {};

  // One problem: counted, noted under what mends it, and said briefly in the
  // summary, as far as the summary has room.
  void Note(bool& kind, const wchar_t* brief) {
    kind = true;
    ++problems;
    WideText<kSummaryCapacity> joined = {};
    if (summary.empty()) {
      BoundedCopy(summary, brief);
    } else if (BoundedFormat(joined, L"%ws; %ws", summary, brief)) {
      summary = joined;
    }
  }
  bool OnlyWaiting() const {
    return waiting && !drivers && !monitor_dll && !monitor_registration && !queues && !leftovers;
  }
};

bool CheckSpooler(Findings& found) {
  const DWORD spooler = StartSpoolerIfStopped();
  if (spooler == ERROR_SUCCESS) {
    trace("OK: the print spooler runs.");
    return true;
  }
  if (spooler == ERROR_SERVICE_DISABLED) {
    trace("Problem: the Spooler service is disabled.");
  } else {
    trace("Problem: the print spooler does not run and could not be started, error:%u.", spooler);
  }
  found.Note(found.stopped, L"the print spooler does not run");
  found.stop_code = static_cast<int>(spooler);
  return false;
}

// Where the spooler keeps a file that a driver's record names: the record's
// path, or for a bare name, the version-3 folder of the driver directory.
bool InstalledFile(const wchar_t* named, PathText& path) {
  if (named == nullptr || named[0] == L'\0') return false;
  if (std::wcschr(named, L'\\') != nullptr) return BoundedCopy(path, named);
  PathText directory = {};
  PathText version = {};
  return PrinterDriverDirectory(directory, MachineEnvironment()) && JoinPath(version, directory.c_str(), L"3") &&
         JoinPath(path, version.c_str(), named);
}

// One file a driver uses, against the package's own: true when it holds the
// same bytes, otherwise a problem line.
bool SameAsPackage(Findings& found, const wchar_t* driver, const wchar_t* named, const wchar_t* folder,
                   const wchar_t* file) {
  PathText installed = {};
  PathText own = {};
  const bool formed = InstalledFile(named, installed);
  const bool present = formed && os.GetFileAttributesW(installed.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (present && PackageFilePath(own, folder, file) && SameFileBytes(installed.c_str(), own.c_str())) return true;
  const wchar_t* state = present ? L"is not this package's" : L"is missing";
  trace("Problem: %ws of printer driver %ws %ws.", formed ? installed.c_str() : file, driver, state);
  LineText brief = {};
  BoundedFormat(brief, L"%ws of printer driver %ws %ws", file, driver, state);
  found.Note(found.drivers, brief.c_str());
  return false;
}

// Each driver's version, and its files where it is not newer than this
// package. Whether a newer version is installed: its files are another
// package's then.
bool CheckDrivers(Findings& found, const FamilyDrivers& drivers) {
  WideText<kVersionTextCapacity> own_text = {};
  if (FormDriverInfPath()) ReadInfVersion(DriverInfPath.c_str(), own_text);
  const uint64_t own = ReadDriverVer(own_text.c_str()).version;
  const PackageArchitecture* architecture = NativeArchitecture();
  const wchar_t* environment = architecture != nullptr ? architecture->environment : L"this machine";
  bool newer = false;
  for (size_t i = 0; i < drivers.count; ++i) {
    const DRIVER_INFO_8W& driver = *drivers.records[i];
    const uint64_t version = driver.dwlDriverVersion;
    LineText brief = {};
    if (version != 0 && version < own) {
      trace("Problem: printer driver %ws is version %ws, older than this package's %ws.", driver.pName,
            VersionName(version), VersionName(own));
      BoundedFormat(brief, L"printer driver %ws is older than this package", driver.pName);
      found.Note(found.drivers, brief.c_str());
    } else if (version == 0) {
      // Wine keeps none; the files below tell.
      trace("OK: printer driver %ws is registered for %ws; the spooler keeps no version of it.", driver.pName,
            environment);
    } else {
      trace("OK: printer driver %ws is registered for %ws, version %ws%ws.", driver.pName, environment,
            VersionName(version), version > own ? L", newer than this package's" : L"");
    }
    if (version > own) {
      newer = true;
      continue;
    }
    if (architecture == nullptr) {
      trace("Problem: this package has no files for this machine's processor.");
      found.Note(found.drivers, L"this package has no files for this machine's processor");
      continue;
    }
    bool same = SameAsPackage(found, driver.pName, driver.pDriverPath, architecture->folder, kDriverDll);
    same = SameAsPackage(found, driver.pName, driver.pConfigFile, architecture->folder, kConfigDll) && same;
    same = SameAsPackage(found, driver.pName, driver.pDataFile, kDataFolder, kDataFile) && same;
    if (same) trace("OK: the driver, configuration and data files of printer driver %ws are this package's.", driver.pName);
  }
  return newer;
}

void CheckMonitor(Findings& found, const FamilyDrivers& drivers, bool newer) {
  if (!drivers.UseLanguageMonitor()) {
    trace("OK: no printer driver of the family uses the language monitor.");
    return;
  }
  const bool registered = AnyListedRecord<MONITOR_INFO_2W>(
      [](LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD count) {
        return os.EnumMonitorsW(nullptr, 2, buffer, size, needed, count);
      },
      [](const MONITOR_INFO_2W& monitor) {
        return monitor.pName != nullptr && std::wcscmp(monitor.pName, kLanguageMonitorName) == 0;
      });
  if (registered) {
    trace("OK: the language monitor %ws is registered.", kLanguageMonitorName);
  } else {
    trace("Problem: the language monitor %ws is not registered.", kLanguageMonitorName);
    found.Note(found.monitor_registration, L"the language monitor is not registered");
  }
  PathText installed = {};
  PathText own = {};
  const PackageArchitecture* architecture = NativeArchitecture();
  if (!SystemFilePath(installed, kMonitorDll) || architecture == nullptr ||
      !PackageFilePath(own, architecture->folder, kMonitorDll)) {
    trace("Problem: the monitor DLL cannot be compared with this package's.");
    found.Note(found.monitor_dll, L"the monitor DLL cannot be compared with this package's");
  } else if (os.GetFileAttributesW(installed.c_str()) == INVALID_FILE_ATTRIBUTES) {
    trace("Problem: %ws is missing.", installed);
    found.Note(found.monitor_dll, L"the monitor DLL is missing");
  } else if (newer) {
    trace("OK: %ws is there; a newer version of the driver is installed, so it is not compared with this package's.",
          installed);
  } else if (!SameFileBytes(installed.c_str(), own.c_str())) {
    trace("Problem: %ws is not this package's.", installed);
    found.Note(found.monitor_dll, L"the monitor DLL is not this package's");
  } else {
    trace("OK: %ws is this package's.", installed);
  }
}

// A package of the family whose INF is in the driver store, where Windows
// has one.
void CheckStore(Findings& found) {
  if (!DriverStoreAvailable()) {
    trace("OK: the driver store is not available here; no package is looked for in it.");
    return;
  }
  for (const DriverPackageNode* package = PackageList; package != nullptr; package = package->next) {
    if (!package->store_path.empty() && os.GetFileAttributesW(package->store_path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      trace("OK: the package %ws is in the driver store.", package->store_path);
      return;
    }
  }
  trace("Problem: no package of the family is in the driver store.");
  found.Note(found.drivers, L"no package of the family is in the driver store");
}

void CheckQueues(Findings& found) {
  EnumerateUsbPrinters(&UsbPrinterList);
  bool any = false;
  for (const UsbPrinterDevice* device = UsbPrinterList; device != nullptr; device = device->next) {
    const SupportedModel* model = FindSupportedModel(device->port_description.c_str());
    if (model == nullptr) continue;
    any = true;
    PrinterInstallRequest request;
    FillInstallRequest(request, *device, *model);
    const PrinterQueue queue = FindPrinterQueue(request);
    if (queue.found == PrinterQueue::Found::kOnPort) {
      trace("OK: %ws on %ws prints through queue %ws.", request.printer_name, request.port_name, queue.name);
      continue;
    }
    if (queue.found == PrinterQueue::Found::kMovable) {
      trace("Problem: %ws on %ws has no queue; its queue %ws waits on %ws.", request.printer_name, request.port_name,
            queue.name, queue.port);
    } else {
      trace("Problem: %ws on %ws has no queue.", request.printer_name, request.port_name);
    }
    LineText brief = {};
    BoundedFormat(brief, L"%ws on %ws has no queue", request.printer_name, request.port_name);
    found.Note(found.queues, brief.c_str());
  }
  if (!any) trace("OK: no supported printer is attached; no queue is looked for.");
}

void CheckPendingFiles(Findings& found) {
  static const wchar_t* const kFiles[] = {kDriverDll, kConfigDll, kDataFile, kMonitorDll};
  PathText path = {};
  if (!NamedFilePendingAtRestart(kFiles, sizeof(kFiles) / sizeof(kFiles[0]), path)) {
    trace("OK: no file of the driver waits for the next start.");
    return;
  }
  trace("Problem: %ws waits for the next start to be replaced or deleted.", path);
  found.Note(found.waiting, L"a file of the driver waits for the next start");
}

void CheckLeftovers(Findings& found) {
  const int copies = LeftoverUninstallerCopies(false);
  if (copies == 0) {
    trace("OK: no copy of the uninstaller is left in the temporary folder.");
    return;
  }
  trace("Problem: copies of the uninstaller are left in the temporary folder: %d.", copies);
  found.Note(found.leftovers, L"copies of the uninstaller are left in the temporary folder");
}

Findings Check() {
  Findings found;
  if (!CheckSpooler(found)) return found;
  if (ProtectedPrintModeOn()) {
    trace("Problem: Windows protected print mode is on.");
    found.Note(found.stopped, L"Windows protected print mode is on");
    found.stop_code = static_cast<int>(kExitDriverBlocked);
    return found;
  }
  trace("OK: Windows protected print mode is off.");
  ForgetInventory();
  DWORD error = ERROR_SUCCESS;
  const InstallState state = ProbeInstallState(&error);
  if (state == InstallState::kUnknown) {
    trace("Problem: what is installed cannot be told, error:%u.", error);
    found.Note(found.stopped, L"the spooler did not list its drivers");
    found.stop_code = static_cast<int>(error);
    return found;
  }
  if (state == InstallState::kNotInstalled) {
    trace("OK: nothing of the family is installed; nothing else is checked.");
    return found;
  }
  found.installed = true;
  const FamilyDrivers drivers = CollectFamilyDrivers();
  CheckMonitor(found, drivers, CheckDrivers(found, drivers));
  CheckStore(found);
  CheckQueues(found);
  CheckPendingFiles(found);
  CheckLeftovers(found);
  return found;
}

}  // namespace

int CheckInstallation() {
  const Findings found = Check();
  WideText<kSummaryCapacity + 32> line = {};
  if (found.problems > 0) {
    BoundedFormat(line, L"%d %ws: %ws", found.problems, found.problems == 1 ? L"problem" : L"problems", found.summary);
  } else {
    BoundedCopy(line, found.installed ? L"No problems." : L"Nothing of the family is installed.");
  }
  trace("Check: %ws", line);
  WriteStandardOutputLine(line.c_str());
  if (found.stop_code != 0) return found.stop_code;
  if (found.problems == 0) return 0;
  return found.OnlyWaiting() ? kExitRestartNeeded : kExitProblemFound;
}

int RepairInstallation() {
  const Findings found = Check();
  if (found.stop_code != 0) {
    trace("Nothing is repaired, error:%u.", static_cast<unsigned>(found.stop_code));
    return found.stop_code;
  }
  if (!found.installed) {
    trace("Nothing of the family is installed; nothing to repair.");
    return 0;
  }
  if (found.problems == 0) {
    trace("Nothing to repair.");
    return 0;
  }
  if (!FormDriverInfPath()) {
    trace("Driver INF path does not fit, folder: %ws", InstallDirectory);
    return ERROR_FILENAME_EXCED_RANGE;
  }
  FirstError cause;
  const bool monitor = found.monitor_dll || found.monitor_registration;
  if (found.drivers) {
    StorePathText store_path;
    PutPackageInPlace(CollectFamilyDrivers(), monitor, cause, store_path);
  } else if (monitor) {
    RestoreLanguageMonitor(found.monitor_dll, cause);
  }
  if (!cause.failed && found.queues) {
    if (const DWORD queues = InstallPrintersWithoutQueue(); queues != ERROR_SUCCESS) cause.Note(queues);
  }
  if (found.leftovers) LeftoverUninstallerCopies(true);
  // A file that waits for the next start is put in place by that start alone.
  if (found.waiting) RestartNeeded = true;
  // A spooler we stopped and could not start again undoes the repair.
  if (SpoolerLeftStopped != ERROR_SUCCESS) {
    cause.failed = true;
    cause.code = SpoolerLeftStopped;
  }
  if (cause.failed) {
    const int code = static_cast<int>(cause.code != ERROR_SUCCESS ? cause.code : kInstallFailedExitCode);
    trace("The repair failed, error:%u.", static_cast<unsigned>(code));
    return code;
  }
  trace("Repaired: %ws.", found.summary);
  return SuccessExitCode();
}
