#include "install/upgrade.h"

#include <cwchar>

#include "common/package.h"
#include "common/privilege.h"
#include "common/run_options.h"
#include "common/service_control.h"
#include "common/trace.h"
#include "discovery/supported_models.h"
#include "discovery/usb_printers.h"
#include "install/file_staging.h"
#include "install/install_printer.h"
#include "install/install_request.h"
#include "install/install_worker.h"
#include "install/print_policy.h"
#include "install/register_printer.h"
#include "platform/os.h"
#include "uninstall/inventory.h"

namespace {

using VersionText = WideText<kVersionTextCapacity>;

// What the last comparison found, for the upgrade's own trace lines.
struct Comparison {
  uint64_t installed_driver = 0;
  uint64_t own_driver = 0;
  VersionText installed_inf;  // the newest family package's DriverVer
  VersionText own_inf;
};
Comparison Compared;

// One decimal number, at most 65535 (a 16-bit word of a version), after
// blanks; false when there is none.
bool ReadNumber(const wchar_t*& p, uint64_t& value) {
  while (*p == L' ' || *p == L'\t') ++p;
  if (*p < L'0' || *p > L'9') return false;
  value = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    value = value * 10 + static_cast<uint64_t>(*p - L'0');
    if (value > 0xFFFF) value = 0xFFFF;
  }
  return true;
}

// Up to `count` numbers with `separator` between them; how many were read.
int ReadNumbers(const wchar_t*& p, wchar_t separator, uint64_t* numbers, int count) {
  int read = 0;
  for (; read < count; ++read) {
    if (read > 0) {
      if (*p != separator) break;
      ++p;
    }
    if (!ReadNumber(p, numbers[read])) break;
  }
  return read;
}

const wchar_t* OrUnknown(const VersionText& text) { return text.empty() ? L"unknown" : text.c_str(); }

// Whether the package beside the program holds every file the upgrade
// stages; nothing is touched before that is known.
bool PackageComplete(bool monitor) {
  const PackageArchitecture* architecture = NativeArchitecture();
  if (architecture == nullptr) {
    trace("The package has no files for this machine's processor; nothing is upgraded.");
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  struct File {
    const wchar_t* folder;
    const wchar_t* name;
  };
  const File files[] = {{architecture->folder, kDriverDll},
                        {architecture->folder, kConfigDll},
                        {kDataFolder, kDataFile},
                        {architecture->folder, monitor ? kMonitorDll : nullptr}};
  for (const File& file : files) {
    if (file.name == nullptr) continue;
    PathText path = {};
    const bool formed = PackageFilePath(path, file.folder, file.name);
    const DWORD attributes = formed ? os.GetFileAttributesW(path.c_str()) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      trace("Package file %ws is missing; nothing is upgraded.", formed ? path.c_str() : file.name);
      SetLastError(formed ? ERROR_FILE_NOT_FOUND : ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
  }
  return true;
}

// One file into the printer-driver directory, for the registration to copy.
// A file that could be replaced only at the next start is a failure here:
// the registration would copy the old one beside the new others.
bool StageForRegistration(int (*stage)(const wchar_t*), const wchar_t* file_name, FirstError& cause) {
  const bool restart_before = RestartNeeded;
  RestartNeeded = false;
  const bool staged = stage(file_name) != 0;
  const DWORD error = GetLastError();
  const bool deferred = RestartNeeded;
  RestartNeeded = restart_before || deferred;
  if (!staged) {
    cause.Note(error);
    return false;
  }
  if (!deferred) return true;
  trace("%ws cannot be replaced before the next start; the driver stays as it is. Run the upgrade again after the restart.",
        file_name);
  cause.Note(error != ERROR_SUCCESS ? error : static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  return false;
}

int StageDriverFile(const wchar_t* file_name) { return StageArchitectureFile(file_name, false); }

// The new files into the printer-driver directory, from which the
// registration copies them to where the spooler uses them. Stops at the first
// failure, leaving the registration as it was.
bool StageFolderFiles(bool monitor, FirstError& cause) {
  if (!StageForRegistration(StageDriverFile, kDriverDll, cause)) return false;
  if (!StageForRegistration(StageDriverFile, kConfigDll, cause)) return false;
  if (!StageForRegistration(StageDataFile, kDataFile, cause)) return false;
  return !monitor || StageForRegistration(StageDriverFile, kMonitorDll, cause);
}

// The language monitor into the system directory (with the spooler stopped,
// or at the next start while a job prints) where `copy` says so, and
// registered.
bool StageMonitor(bool copy, FirstError& cause) {
  PathText source = {};
  if (!PackageFilePath(source, NativeArchitecture()->folder, kMonitorDll)) {
    cause.Note(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (copy && !cause.Step(StageMonitorIntoSystemDirectory(source.c_str()) == ERROR_SUCCESS)) return false;
  if (SpoolerLeftStopped != ERROR_SUCCESS) {
    cause.Note(SpoolerLeftStopped);
    return false;
  }
  return cause.Step(InstallPrinterLanguageMonitor(kLanguageMonitorName, kMonitorDll) != 0);
}

// The new package for every attached device of a supported model, whether
// or not it has its queue already, forced over the older driver it has.
void BindAttachedPrinters() {
  EnumerateUsbPrinters(&UsbPrinterList);
  for (const UsbPrinterDevice* device = UsbPrinterList; device != nullptr; device = device->next) {
    if (FindSupportedModel(device->port_description.c_str()) == nullptr) continue;
    BindToPackage(device->hardware_id.c_str(), DriverInfPath.c_str(), true);
  }
}

bool UsedByFamilyDriver(const wchar_t* store_path) {
  for (const DriverPackageNode* package = PackageList; package != nullptr; package = package->next) {
    for (const PrinterDriverNode* driver = package->drivers; driver != nullptr; driver = driver->next) {
      const DRIVER_INFO_8W* info = driver->driver_info;
      if (info != nullptr && info->pszInfPath != nullptr && _wcsicmp(info->pszInfPath, store_path) == 0) return true;
    }
  }
  return false;
}

// The family's packages in the driver store other than the new one, as the
// inventory reads them now, where no driver uses them any more. A refusal
// is traced; the package then stays.
void DeleteOlderPackages(const wchar_t* new_store_path) {
  ForgetInventory();
  ScanDriverPackages();
  ScanPrinterDrivers();
  for (const DriverPackageNode* package = PackageList; package != nullptr; package = package->next) {
    const wchar_t* path = package->store_path.c_str();
    if (package->store_path.empty() || _wcsicmp(path, new_store_path) == 0) continue;
    if (UsedByFamilyDriver(path)) {
      trace("Driver package %ws is still used by a driver; it stays.", path);
      continue;
    }
    const HRESULT result = os.DeletePrinterDriverPackageW(nullptr, path, MachineEnvironment());
    trace("Deleting the older driver package %ws: %u (0x%08x)", path, static_cast<unsigned>(result),
          static_cast<unsigned>(result));
  }
}

int Finish(FirstError cause) {
  // A spooler we stopped and could not start again answers nothing: that is
  // the cause of whatever failed after it.
  if (SpoolerLeftStopped != ERROR_SUCCESS) {
    cause.failed = true;
    cause.code = SpoolerLeftStopped;
  }
  const int code = cause.failed ? static_cast<int>(cause.code != ERROR_SUCCESS ? cause.code : kInstallFailedExitCode)
                                : SuccessExitCode();
  if (cause.failed) {
    trace("The upgrade from version %ws to %ws failed, error:%u.", VersionName(Compared.installed_driver),
          VersionName(Compared.own_driver), static_cast<unsigned>(code));
  } else {
    trace("Upgraded from version %ws (DriverVer %ws) to %ws (DriverVer %ws)%ws.", VersionName(Compared.installed_driver),
          OrUnknown(Compared.installed_inf), VersionName(Compared.own_driver), OrUnknown(Compared.own_inf),
          RestartNeeded ? L"; a file waits for the next start" : L"");
  }
  return code;
}

}  // namespace

WideText<32> VersionName(uint64_t version) {
  WideText<32> name = {};
  BoundedFormat(name, L"%d.%d.%d.%d", static_cast<int>(version >> 48), static_cast<int>((version >> 32) & 0xFFFF),
                static_cast<int>((version >> 16) & 0xFFFF), static_cast<int>(version & 0xFFFF));
  return name;
}

bool UsesLanguageMonitor(const DRIVER_INFO_8W& driver) {
  return driver.pMonitorName != nullptr && std::wcscmp(driver.pMonitorName, kLanguageMonitorName) == 0;
}

bool FamilyDrivers::Has(const wchar_t* name) const {
  for (size_t i = 0; i < count; ++i) {
    if (std::wcscmp(records[i]->pName, name) == 0) return true;
  }
  return false;
}

bool FamilyDrivers::UseLanguageMonitor() const {
  for (size_t i = 0; i < count; ++i) {
    if (UsesLanguageMonitor(*records[i])) return true;
  }
  return false;
}

FamilyDrivers CollectFamilyDrivers() {
  FamilyDrivers drivers;
  for (const DriverPackageNode* package = PackageList; package != nullptr; package = package->next) {
    for (const PrinterDriverNode* driver = package->drivers; driver != nullptr; driver = driver->next) {
      const DRIVER_INFO_8W* info = driver->driver_info;
      if (info == nullptr || info->pName == nullptr || drivers.Has(info->pName)) continue;
      if (drivers.count == kMaxFamilyDrivers) {
        trace("More than %u drivers of the family; %ws is not upgraded.", static_cast<unsigned>(kMaxFamilyDrivers),
              info->pName);
        continue;
      }
      drivers.records[drivers.count++] = info;
    }
  }
  return drivers;
}

bool PutPackageInPlace(const FamilyDrivers& drivers, bool restore_monitor, FirstError& cause, StorePathText& store_path) {
  const bool monitor = drivers.UseLanguageMonitor();
  store_path = {};
  if (!cause.Step(PackageComplete(monitor))) return false;
  // The driver store and Plug and Play are tried; the spooler's drivers are
  // upgraded whatever they answer.
  EnableLoadDriverPrivilege();
  UploadDriverPackage(DriverInfPath.c_str(), &store_path);
  BindAttachedPrinters();

  // Without the store's copy the files come from the package's folder, staged
  // before anything is changed.
  bool folder_staged = store_path.empty() && StageFolderFiles(monitor, cause);
  if ((!store_path.empty() || folder_staged) && (!monitor || !restore_monitor || StageMonitor(true, cause))) {
    for (size_t i = 0; i < drivers.count && !cause.failed; ++i) {
      const DRIVER_INFO_8W& driver = *drivers.records[i];
      // From the verified copy in the store, its files replacing the ones in
      // use; where Windows cannot, from the package's folder.
      bool registered = InstallDriverFromStore(driver.pName, store_path.c_str(), true) != 0;
      if (!registered && !folder_staged) folder_staged = StageFolderFiles(monitor, cause);
      if (!registered && folder_staged) {
        registered = cause.Step(RegisterPrinterDriverAgain(driver.pName, UsesLanguageMonitor(driver)) != 0);
      }
      if (registered) trace("Printer driver %ws now uses this package's files.", driver.pName);
    }
  }
  return true;
}

bool RestoreLanguageMonitor(bool copy, FirstError& cause) {
  return cause.Step(PackageComplete(true)) && StageMonitor(copy, cause);
}

DriverVer ReadDriverVer(const wchar_t* text) {
  DriverVer read;
  if (text == nullptr) return read;
  const wchar_t* p = text;
  uint64_t date[3] = {};  // month, day, year
  if (ReadNumbers(p, L'/', date, 3) != 3) return read;
  read.date = (date[2] << 32) | (date[0] << 16) | date[1];
  while (*p == L' ' || *p == L'\t') ++p;
  if (*p != L',') return read;
  ++p;
  uint64_t parts[4] = {};
  ReadNumbers(p, L'.', parts, 4);
  read.version = (parts[0] << 48) | (parts[1] << 32) | (parts[2] << 16) | parts[3];
  return read;
}

InstalledVersion CompareInstalledVersion() {
  Comparison& c = Compared;
  c = {};
  // This package's version is its INF's DriverVer; the drivers' versions
  // are compared with its version part, the store's packages with the whole.
  if (FormDriverInfPath()) ReadInfVersion(DriverInfPath.c_str(), c.own_inf);
  const DriverVer own_package = ReadDriverVer(c.own_inf.c_str());
  c.own_driver = own_package.version;
  bool store_has_package = false;
  DriverVer newest_package;
  for (DriverPackageNode* package = PackageList; package != nullptr; package = package->next) {
    for (const PrinterDriverNode* driver = package->drivers; driver != nullptr; driver = driver->next) {
      if (driver->driver_info != nullptr && driver->driver_info->dwlDriverVersion > c.installed_driver) {
        c.installed_driver = driver->driver_info->dwlDriverVersion;
      }
    }
    if (package->store_path.empty()) continue;
    // A node that a driver's INF path made has not read its INF yet.
    if (package->version.empty()) ReadInfVersion(package->store_path.c_str(), package->version);
    const DriverVer version = ReadDriverVer(package->version.c_str());
    if (!store_has_package || version > newest_package) {
      newest_package = version;
      c.installed_inf = package->version;
    }
    store_has_package = true;
  }
  // Without a package in the store the INF has nothing to be compared with.
  const bool by_inf = store_has_package;
  const bool newer = c.installed_driver > c.own_driver || (by_inf && newest_package > own_package);
  const bool older = c.own_driver > c.installed_driver || (by_inf && own_package > newest_package);
  const WideText<32> installed = VersionName(c.installed_driver);
  const WideText<32> own = VersionName(c.own_driver);
  if (newer) {
    trace("A newer version is installed: %ws (DriverVer %ws); this package is %ws (DriverVer %ws). Nothing is changed.",
          installed, OrUnknown(c.installed_inf), own, OrUnknown(c.own_inf));
    return InstalledVersion::kNewer;
  }
  if (older) {
    trace("Installed version %ws (DriverVer %ws) is older than this package's %ws (DriverVer %ws): upgrading in place.",
          installed, OrUnknown(c.installed_inf), own, OrUnknown(c.own_inf));
    return InstalledVersion::kOlder;
  }
  trace("Already installed, version %ws (DriverVer %ws).", own, OrUnknown(c.own_inf));
  return InstalledVersion::kSame;
}

int UpgradeInPlace() {
  FirstError cause;
  if (ProtectedPrintModeOn()) {
    trace("Protected print mode admits only Windows' own drivers; nothing is upgraded.");
    cause.Note(kExitDriverBlocked);
    return Finish(cause);
  }
  if (const DWORD spooler = StartSpoolerIfStopped(); spooler != ERROR_SUCCESS) {
    cause.Note(spooler);
    return Finish(cause);
  }
  if (!FormDriverInfPath()) {
    trace("Driver INF path does not fit, folder: %ws", InstallDirectory);
    cause.Note(ERROR_FILENAME_EXCED_RANGE);
    return Finish(cause);
  }
  // Read before anything changes: the drivers to register again, as they
  // are registered now.
  const FamilyDrivers drivers = CollectFamilyDrivers();
  StorePathText store_path;
  if (!PutPackageInPlace(drivers, true, cause, store_path)) return Finish(cause);
  if (!cause.failed) {
    if (const DWORD queues = InstallPrintersWithoutQueue(); queues != ERROR_SUCCESS) cause.Note(queues);
  }
  if (SpoolerLeftStopped != ERROR_SUCCESS) {
    trace("The spooler was left stopped; the upgrade failed.");
    cause.Note(SpoolerLeftStopped);
  }
  if (!cause.failed && !store_path.empty()) DeleteOlderPackages(store_path.c_str());
  return Finish(cause);
}
