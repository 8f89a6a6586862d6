#include "install/register_printer.h"

#include <cwchar>

#include "common/privilege.h"

#include "common/package.h"
#include "common/path.h"
#include "common/scoped_handle.h"
#include "common/spooler_listing.h"
#include "common/trace.h"
#include "discovery/supported_models.h"
#include "install/file_staging.h"
#include "install/upgrade.h"
#include "uninstall/inventory.h"

namespace {

constexpr int kChecks = 5;
constexpr DWORD kCheckPause = 1000;

struct BuildVersion {
  int year = 0;
  int month = 0;
  int day = 0;
  int build = 0;
};

BuildVersion ReadBuildVersion() {
  BuildVersion v;
  ScanVersion(DRIVER_BUILD_VERSION, &v.year, &v.month, &v.day, &v.build);
  return v;
}

int RegisterSteps(const PrinterInstallRequest* request, const wchar_t* store_path, FirstError& cause);

bool UsesLanguageMonitor(const PrinterInstallRequest* request) {
  return (request->flags & MODEL_FLAG_LANGUAGE_MONITOR) != 0;
}

// The spooler keeps the pointers only for the call, and writes through none.
LPWSTR Text(const wchar_t* text) { return const_cast<LPWSTR>(text); }

// Up to five checks, one second apart, the pause following every check that fails.
template <typename Check>
bool WaitUntil(Check check) {
  for (int i = 0; i < kChecks; ++i) {
    if (check()) return true;
    os.Sleep(kCheckPause);
  }
  return false;
}

}  // namespace

uint64_t GetDriverVersion() {
  const BuildVersion v = ReadBuildVersion();
  return (static_cast<uint64_t>(static_cast<uint16_t>(v.year)) << 48) |
         (static_cast<uint64_t>(static_cast<uint16_t>(v.month)) << 32) |
         (static_cast<uint64_t>(static_cast<uint16_t>(v.day)) << 16) |
         static_cast<uint64_t>(static_cast<uint16_t>(v.build));
}

FILETIME GetDriverDate() {
  const BuildVersion v = ReadBuildVersion();
  SYSTEMTIME day = {};
  day.wYear = static_cast<WORD>(v.year);
  day.wMonth = static_cast<WORD>(v.month);
  day.wDay = static_cast<WORD>(v.day);
  FILETIME date = {};
  if (!SystemTimeToFileTime(&day, &date)) date = {};
  return date;
}

int IsPrinterDriverListed(const wchar_t* driver_name) {
  if (driver_name == nullptr) return 0;
  const bool listed = AnyListedRecord<DRIVER_INFO_8W>(
      [](LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD count) {
        return os.EnumPrinterDriversW(nullptr, Text(MachineEnvironment()), 8, buffer, size, needed, count);
      },
      [&](const DRIVER_INFO_8W& driver) {
        return driver.pName != nullptr && std::wcscmp(driver.pName, driver_name) == 0;
      });
  return listed ? 1 : 0;
}

int InstallPrinterLanguageMonitor(const wchar_t* monitor_name, const wchar_t* dll_name) {
  MONITOR_INFO_2W monitor = {};
  monitor.pName = Text(monitor_name);
  monitor.pEnvironment = Text(MachineEnvironment());
  monitor.pDLLName = Text(dll_name);
  EnableLoadDriverPrivilege();
  if (os.AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&monitor))) return 1;
  const DWORD error = GetLastError();
  if (error == ERROR_PRINT_MONITOR_ALREADY_INSTALLED) return 1;
  trace("InstallPrinterLanguageMonitor failed, errcode:%d.", static_cast<int>(error));
  SetLastError(error);
  return 0;
}

namespace {

// This package's version and date: its INF's DriverVer, as the spooler reads
// it for a driver installed from the package; the build's own where the INF
// has none that can be read.
void PackageVersion(uint64_t& version, FILETIME& date) {
  version = GetDriverVersion();
  date = GetDriverDate();
  WideText<kVersionTextCapacity> text = {};
  if (!FormDriverInfPath()) return;
  ReadInfVersion(DriverInfPath.c_str(), text);
  const DriverVer read = ReadDriverVer(text.c_str());
  if (read.version == 0) return;
  SYSTEMTIME day = {};
  day.wYear = static_cast<WORD>(read.date >> 32);
  day.wMonth = static_cast<WORD>(read.date >> 16);
  day.wDay = static_cast<WORD>(read.date);
  if (!SystemTimeToFileTime(&day, &date)) date = {};
  version = read.version;
}

// The record this package registers a driver with. `dependent_files` is
// the caller's field of kDependentFilesCapacity characters.
constexpr size_t kDependentFilesCapacity = 512;
void FillDriverRecord(DRIVER_INFO_8W& driver, const wchar_t* name, bool uses_monitor, wchar_t* dependent_files) {
  // One name, then the empty string that closes the list.
  std::wmemset(dependent_files, L'\0', kDependentFilesCapacity);
  BoundedCopy(dependent_files, kDependentFilesCapacity, kMonitorDll);
  driver = {};
  driver.cVersion = 3;
  driver.pName = Text(name);
  // Named, not left null: a null environment is the calling process's, and
  // an x64 process that ARM64 Windows emulates would register an x64 driver.
  driver.pEnvironment = Text(MachineEnvironment());
  driver.pDriverPath = Text(kDriverDll);
  driver.pDataFile = Text(kDataFile);
  driver.pConfigFile = Text(kConfigDll);
  if (uses_monitor) {
    driver.pDependentFiles = dependent_files;
    driver.pMonitorName = Text(kLanguageMonitorName);
  }
  driver.pDefaultDataType = Text(L"RAW");
  PackageVersion(driver.dwlDriverVersion, driver.ftDriverDate);
  driver.pszProvider = Text(L"Vellumor.V6");
  driver.pszPrintProcessor = Text(L"winprint");
}

}  // namespace

int RegisterPrinterDriver(const PrinterInstallRequest* request) {
  wchar_t dependent_files[kDependentFilesCapacity];
  DRIVER_INFO_8W driver;
  FillDriverRecord(driver, request->driver_name.chars, UsesLanguageMonitor(request), dependent_files);
  EnableLoadDriverPrivilege();
  if (!os.AddPrinterDriverW(nullptr, 8, reinterpret_cast<LPBYTE>(&driver))) {
    const DWORD error = GetLastError();
    trace("AddPrinterDriver failed, errcode:%d.", static_cast<int>(error));
    SetLastError(error);
    return 0;
  }
  if (WaitUntil([&] { return IsPrinterDriverListed(request->driver_name.chars) != 0; })) return 1;
  // Taken, but never listed: the spooler does not know the driver.
  SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
  return 0;
}

int InstallDriverFromStore(const wchar_t* driver_name, const wchar_t* store_path, bool replace_all) {
  if (store_path == nullptr || store_path[0] == L'\0') return 0;
  EnableLoadDriverPrivilege();
  const HRESULT result = os.InstallPrinterDriverFromPackageW(nullptr, store_path, driver_name, MachineEnvironment(),
                                                             replace_all ? IPDFP_COPY_ALL_FILES : 0);
  trace("Installing printer driver %ws from the driver store: %u (0x%08x)", driver_name, static_cast<unsigned>(result),
        static_cast<unsigned>(result));
  if (result == S_OK) return 1;
  SetLastError(HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : static_cast<DWORD>(result));
  return 0;
}

int RegisterPrinterDriverAgain(const wchar_t* driver_name, bool uses_monitor) {
  wchar_t dependent_files[kDependentFilesCapacity];
  DRIVER_INFO_8W driver;
  FillDriverRecord(driver, driver_name, uses_monitor, dependent_files);
  EnableLoadDriverPrivilege();
  // The files the spooler uses are replaced whatever their versions and
  // time stamps say.
  if (os.AddPrinterDriverExW(nullptr, 8, reinterpret_cast<LPBYTE>(&driver), APD_COPY_ALL_FILES)) return 1;
  const DWORD error = GetLastError();
  trace("AddPrinterDriverEx %ws failed, errcode:%d.", driver_name, static_cast<int>(error));
  SetLastError(error);
  return 0;
}

int RegisterPrinterManually(const PrinterInstallRequest* request, DWORD* error, const wchar_t* store_path) {
  FirstError cause;
  const int result = RegisterSteps(request, store_path, cause);
  if (error != nullptr) *error = result != 0 ? ERROR_SUCCESS : cause.code;
  if (result == 0) SetLastError(cause.code);
  return result;
}

namespace {

// The driver's own files from the package beside the program into the
// printer-driver directory, for AddPrinterDriver; the monitor DLL there too,
// and into the system directory, where the model uses it.
bool StageFolderFiles(const PrinterInstallRequest* request, bool monitor_into_system, FirstError& cause) {
  // Every step runs; the outcomes are combined, the first failure kept.
  bool staged = cause.Step(StageArchitectureFile(kDriverDll) != 0);
  staged = cause.Step(StageArchitectureFile(kConfigDll) != 0) && staged;
  staged = cause.Step(StageDataFile(kDataFile) != 0) && staged;
  if (UsesLanguageMonitor(request)) {
    staged = cause.Step(StageArchitectureFile(kMonitorDll, monitor_into_system) != 0) && staged;
  }
  return staged;
}

// The monitor DLL alone, into the system directory: the driver's files come
// from the driver store.
bool StageMonitorOnly(FirstError& cause) {
  const PackageArchitecture* architecture = NativeArchitecture();
  PathText source = {};
  if (architecture == nullptr || !PackageFilePath(source, architecture->folder, kMonitorDll)) {
    cause.Note(architecture == nullptr ? ERROR_NOT_SUPPORTED : ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  return cause.Step(StageMonitorIntoSystemDirectory(source.c_str()) == ERROR_SUCCESS);
}

int RegisterSteps(const PrinterInstallRequest* request, const wchar_t* store_path, FirstError& cause) {
  if (request == nullptr) {
    cause.Note(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const bool monitor = UsesLanguageMonitor(request);
  bool staged = true;
  if (store_path != nullptr && store_path[0] != L'\0') {
    // The verified copy in the driver store: the monitor first, since the
    // driver names it, then the driver installed from the package where the
    // spooler does not list it yet.
    if (monitor) {
      staged = StageMonitorOnly(cause);
      staged = cause.Step(InstallPrinterLanguageMonitor(kLanguageMonitorName, kMonitorDll) != 0) && staged;
    }
    const bool installed =
        staged && (IsPrinterDriverListed(request->driver_name.chars) ||
                   (InstallDriverFromStore(request->driver_name.chars, store_path, false) != 0 &&
                    WaitUntil([&] { return IsPrinterDriverListed(request->driver_name.chars) != 0; })));
    // Where the store's install is not to be had, the package's folder, the
    // monitor already in place.
    if (!installed && staged) {
      staged = StageFolderFiles(request, false, cause);
      if (staged && !cause.Step(RegisterPrinterDriver(request) != 0)) return 0;
    }
  } else {
    // The package's folder: its files staged, the monitor registered.
    staged = StageFolderFiles(request, true, cause);
    if (monitor) staged = cause.Step(InstallPrinterLanguageMonitor(kLanguageMonitorName, kMonitorDll) != 0) && staged;
    // Without its files the driver cannot be added; the queue may still come
    // from Plug and Play meanwhile.
    if (staged && !IsPrinterDriverListed(request->driver_name.chars) &&
        !cause.Step(RegisterPrinterDriver(request) != 0)) {
      return 0;
    }
  }

  if (PrinterExists(request->printer_name.chars)) {
    trace("The printer %ws is already added.", request->printer_name);
    return 1;
  }

  PRINTER_INFO_2W queue = {};
  queue.pPrinterName = Text(request->printer_name.chars);
  queue.pPortName = Text(request->port_name.chars);
  queue.pDriverName = Text(request->driver_name.chars);
  queue.pPrintProcessor = Text(L"WinPrint");
  queue.pDatatype = Text(L"RAW");
  queue.Attributes = PRINTER_ATTRIBUTE_LOCAL;
  EnableLoadDriverPrivilege();
  ScopedPrinter added(os.AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&queue)));
  // A queue the spooler refused to make, for any reason but that it exists,
  // is installed only if it shows up by other means (Plug and Play).
  bool refused = false;
  if (!added) {
    const DWORD error = GetLastError();
    trace("AddPrinter %ws failed, errcode:%d.", request->printer_name, static_cast<int>(error));
    refused = error != ERROR_PRINTER_ALREADY_EXISTS;
    if (refused) cause.Note(error);
  }
  added.reset();

  if (WaitUntil([&] { return PrinterExists(request->printer_name.chars) != 0; })) return 1;
  return staged && !refused ? 1 : 0;
}

}  // namespace
