// Deleting printers, drivers, monitors and driver-store packages, on the fake machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>

#include "tests/fakes/fake_machine.h"

namespace {

std::wstring Text(const wchar_t* s) { return s != nullptr ? s : L""; }

bool SameName(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return std::towlower(x) == std::towlower(y);
         });
}

bool Listed(const std::vector<std::wstring>& names, const std::wstring& name) {
  return std::any_of(names.begin(), names.end(), [&](const std::wstring& n) { return SameName(n, name); });
}

// The printer an open handle stands for, or null (error set).
FakePrinter* OpenedPrinter(FakeMachine& m, HANDLE handle) {
  auto it = m.spooler.open_printers.find(handle);
  if (it == m.spooler.open_printers.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return m.spooler.FindPrinter(it->second);
}

bool PortKnown(FakeMachine& m, const std::wstring& port) { return Listed(m.spooler.ports, port); }

// PRINTER_INFO_2: "If a printer is connected to more than one port, the names
// of each port must be separated by commas".
bool PortsKnown(FakeMachine& m, const wchar_t* ports) {
  if (ports == nullptr || ports[0] == L'\0') return false;
  std::wstring list = ports;
  for (size_t start = 0;;) {
    const size_t comma = list.find(L',', start);
    if (!PortKnown(m, list.substr(start, comma - start))) return false;
    if (comma == std::wstring::npos) return true;
    start = comma + 1;
  }
}

// SetPrinter at level 2, command 0: the queue takes the record as given
// ("ignores the pServerName, AveragePPM, Status, and cJobs members"); a null
// pDevMode leaves the settings as they are. PRINTER_CONTAINER Parameters
// ([MS-RPRN] 3.1.4.1.8.6): a port that is not "an existing port" is refused
// with ERROR_UNKNOWN_PORT, a driver that is not installed with
// ERROR_UNKNOWN_PRINTER_DRIVER.
BOOL SetPrinterInfo2(FakeMachine& m, HANDLE handle, FakePrinter& printer, const PRINTER_INFO_2W* r) {
  // [MS-RPRN] <274>: the handle must have been "opened with
  // PRINTER_ACCESS_ADMINISTER permission".
  if ((m.spooler.open_access[handle] & PRINTER_ACCESS_ADMINISTER) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (r == nullptr || r->pPrinterName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!SameName(r->pPrinterName, printer.name)) {
    ADD_FAILURE() << "the fake machine models no renaming through SetPrinterW";
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!PortsKnown(m, r->pPortName)) {
    SetLastError(ERROR_UNKNOWN_PORT);
    return FALSE;
  }
  if (r->pDriverName == nullptr || m.spooler.FindDriver(r->pDriverName, m.MachineEnvironment()) == nullptr) {
    SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
    return FALSE;
  }
  // SetPrinter: to leave the security descriptor as it is, pSecurityDescriptor is NULL.
  if (r->pSecurityDescriptor != nullptr) ++m.spooler.security_writes;
  printer.port = r->pPortName;
  printer.driver = r->pDriverName;
  printer.share_name = Text(r->pShareName);
  printer.comment = Text(r->pComment);
  printer.location = Text(r->pLocation);
  printer.print_processor = Text(r->pPrintProcessor);
  printer.datatype = Text(r->pDatatype);
  printer.attributes = r->Attributes;
  if (r->pDevMode != nullptr) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(r->pDevMode);
    printer.devmode.assign(bytes, bytes + r->pDevMode->dmSize + r->pDevMode->dmDriverExtra);
  }
  return TRUE;
}

BOOL WINAPI FakeSetPrinterW(HANDLE handle, DWORD level, LPBYTE info, DWORD command) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::SetPrinterW, std::to_wstring(command))) return FALSE;
  if (m.SpoolerUnavailable()) return FALSE;
  FakePrinter* printer = OpenedPrinter(m, handle);
  if (printer == nullptr) return FALSE;
  // SetPrinter: "If the Command parameter is not equal to zero, the Level
  // parameter must be zero"; RpcSetPrinter refuses it with ERROR_INVALID_LEVEL.
  if (command != 0 && level != 0) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (level == 2) return SetPrinterInfo2(m, handle, *printer, reinterpret_cast<const PRINTER_INFO_2W*>(info));
  if (level != 0 || command != PRINTER_CONTROL_PURGE) {
    ADD_FAILURE() << "the fake machine models SetPrinterW at level 2 and the purge only";
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;  // no jobs are modelled: nothing to purge
}

BOOL WINAPI FakeDeletePrinter(HANDLE handle) {
  FakeMachine& m = Fake();
  const auto open = m.spooler.open_printers.find(handle);
  if (m.Enter(Seam::DeletePrinter, open != m.spooler.open_printers.end() ? open->second : L"")) return FALSE;
  if (m.SpoolerUnavailable()) return FALSE;
  FakePrinter* printer = OpenedPrinter(m, handle);
  if (printer == nullptr) return FALSE;
  auto& list = m.spooler.printers;
  list.erase(list.begin() + (printer - list.data()));
  return TRUE;
}

BOOL WINAPI FakeDeletePrinterDriverExW(LPWSTR, LPWSTR environment, LPWSTR name, DWORD flags, DWORD) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::DeletePrinterDriverExW, Text(name))) return FALSE;
  if (m.SpoolerUnavailable()) return FALSE;
  if (!m.LoadDriverPrivilegeOn()) return FALSE;
  // DeletePrinterDriverEx: with a null environment "the driver name is
  // deleted from the current environment of the calling application".
  const std::wstring want_environment = environment != nullptr ? environment : FakeMachine::kCallerEnvironment;
  auto& drivers = m.spooler.drivers;
  auto driver = std::find_if(drivers.begin(), drivers.end(), [&](const FakeDriver& d) {
    return SameName(d.name, Text(name)) && SameName(d.environment, want_environment);
  });
  if (driver == drivers.end()) {
    SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
    return FALSE;
  }
  const bool used_by_printer = std::any_of(m.spooler.printers.begin(), m.spooler.printers.end(),
                                           [&](const FakePrinter& p) { return SameName(p.driver, driver->name); });
  if (used_by_printer || Listed(m.spooler.drivers_in_use, driver->name)) {
    SetLastError(ERROR_PRINTER_DRIVER_IN_USE);
    return FALSE;
  }
  if (flags & ~(DPD_DELETE_UNUSED_FILES | DPD_DELETE_SPECIFIC_VERSION | DPD_DELETE_ALL_FILES)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  drivers.erase(driver);
  return TRUE;
}

BOOL WINAPI FakeDeleteMonitorW(LPWSTR, LPWSTR environment, LPWSTR name) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::DeleteMonitorW, Text(name))) return FALSE;
  if (m.SpoolerUnavailable()) return FALSE;
  if (!m.LoadDriverPrivilegeOn()) return FALSE;
  // DeleteMonitor: "If this parameter is NULL, the monitor is removed from
  // the current environment of the calling application".
  const std::wstring want = environment != nullptr ? environment : FakeMachine::kCallerEnvironment;
  auto& monitors = m.spooler.monitors;
  auto monitor = std::find_if(monitors.begin(), monitors.end(), [&](const FakeMonitor& x) {
    return SameName(x.name, Text(name)) && SameName(x.environment, want);
  });
  if (monitor == monitors.end()) {
    SetLastError(ERROR_UNKNOWN_PRINT_MONITOR);
    return FALSE;
  }
  monitors.erase(monitor);
  return TRUE;
}

HRESULT WINAPI FakeDeletePrinterDriverPackageW(LPCWSTR, LPCWSTR inf_path, LPCWSTR) {
  FakeMachine& m = Fake();
  DWORD error = 0;
  // An injected fault is the HRESULT itself.
  if (m.Enter(Seam::DeletePrinterDriverPackageW, Text(inf_path), &error)) return static_cast<HRESULT>(error);
  if (m.SpoolerUnavailable()) return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
  auto& packages = m.spooler.packages;
  auto package = std::find_if(packages.begin(), packages.end(),
                              [&](const std::wstring& p) { return SameName(p, Text(inf_path)); });
  // [MS-PAR] 3.1.4.2.12: pszInfPath "contains an existing path name;
  // otherwise the server MUST return ERROR_INVALID_PARAMETER".
  if (package == packages.end()) return HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER);
  // DeletePrinterDriverPackage: a package from which a driver is still
  // installed is in use (ERROR_PRINT_DRIVER_PACKAGE_IN_USE).
  for (const FakeDriver& driver : m.spooler.drivers) {
    if (SameName(driver.inf_path, *package)) return HRESULT_FROM_WIN32(3015);
  }
  if (Listed(m.spooler.packages_in_use, *package)) {
    return HRESULT_FROM_SETUPAPI(ERROR_INF_IN_USE_BY_DEVICES);
  }
  // The package's folder leaves the store with it.
  const std::wstring folder = package->substr(0, package->find_last_of(L'\\'));
  if (m.RealPath(folder) != folder) RemoveRealTree(m.RealPath(folder));
  packages.erase(package);
  return S_OK;
}

}  // namespace

void InstallSpoolerRemovalFakes(OsTable& t) {
  t.SetPrinterW = FakeSetPrinterW;
  t.DeletePrinter = FakeDeletePrinter;
  t.DeletePrinterDriverExW = FakeDeletePrinterDriverExW;
  t.DeleteMonitorW = FakeDeleteMonitorW;
  t.DeletePrinterDriverPackageW = FakeDeletePrinterDriverPackageW;
}
