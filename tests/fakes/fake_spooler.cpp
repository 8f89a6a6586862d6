// The print spooler of the fake machine: printers, drivers, monitors, ports
// and driver-store packages, opened, listed and added as winspool does.
#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>

#include "tests/fakes/fake_machine.h"

namespace {

bool SameName(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return std::towlower(x) == std::towlower(y);
         });
}

std::wstring Text(const wchar_t* s) { return s != nullptr ? s : L""; }

// Environment Name Params ([MS-RPRN] 3.1.4.1.3): a name the spooler does not
// know is refused with ERROR_INVALID_ENVIRONMENT. A null environment is the
// caller's (every page of these calls says so): x64 for this program.
bool KnownEnvironment(const std::wstring& name) {
  for (const wchar_t* known : {L"Windows NT x86", L"Windows x64", L"Windows ARM64", L"Windows IA64", L"Windows ARM"}) {
    if (SameName(name, known)) return true;
  }
  return false;
}
std::wstring EnvironmentOr(const wchar_t* environment) {
  return environment != nullptr ? environment : FakeMachine::kCallerEnvironment;
}
// The package folder that holds an environment's files.
std::wstring ArchitectureFolder(const std::wstring& environment) {
  return SameName(environment, L"Windows ARM64") ? L"arm64" : L"amd64";
}

// Lays out records at the front of a buffer and their strings behind them, as
// the spooler's enumeration calls do.
class Packer {
 public:
  Packer(BYTE* buffer, size_t capacity, size_t records_size)
      : buffer_(buffer), capacity_(capacity), strings_(records_size) {}
  // Returns the packed copy (or null for an absent text) and counts its size.
  wchar_t* Put(const std::wstring& text, bool absent_when_empty = true, bool multi = false) {
    if (text.empty() && absent_when_empty && !multi) return nullptr;
    const size_t chars = text.size() + (multi ? 2 : 1);
    const size_t offset = strings_;
    strings_ += chars * sizeof(wchar_t);
    if (buffer_ == nullptr || strings_ > capacity_) return nullptr;
    auto* out = reinterpret_cast<wchar_t*>(buffer_ + offset);
    text.copy(out, text.size());
    out[text.size()] = L'\0';
    if (multi) out[text.size() + 1] = L'\0';
    return out;
  }
  // Bytes (a device mode, a security descriptor) at an 8-byte boundary.
  BYTE* PutBytes(const void* bytes, size_t count) {
    if (count == 0) return nullptr;
    strings_ = (strings_ + 7) & ~static_cast<size_t>(7);
    const size_t offset = strings_;
    strings_ += count;
    if (buffer_ == nullptr || strings_ > capacity_) return nullptr;
    std::memcpy(buffer_ + offset, bytes, count);
    return buffer_ + offset;
  }
  size_t size() const { return strings_; }

 private:
  BYTE* buffer_;
  size_t capacity_;
  size_t strings_;
};

std::wstring MultiString(const std::vector<std::wstring>& texts) {
  std::wstring all;
  for (const std::wstring& t : texts) {
    all += t;
    all += L'\0';
  }
  if (!all.empty()) all.pop_back();  // the packer adds the two terminators
  return all;
}

void FillDriver(Packer& p, const FakeDriver& d, DRIVER_INFO_8W* r) {
  *r = {};
  r->cVersion = 3;
  r->pName = p.Put(d.name, false);
  r->pEnvironment = p.Put(d.environment, false);
  r->pDriverPath = p.Put(d.driver_path);
  r->pDataFile = p.Put(d.data_file);
  r->pConfigFile = p.Put(d.config_file);
  r->pDependentFiles = d.dependent_files.empty() ? nullptr : p.Put(MultiString(d.dependent_files), false, true);
  r->pMonitorName = p.Put(d.monitor);
  r->pszMfgName = p.Put(d.manufacturer);
  r->pszInfPath = p.Put(d.inf_path);
  r->dwlDriverVersion = d.version;
  r->ftDriverDate = d.date;
}

// EnumPrinters leaves out the security descriptor ("their
// pSecurityDescriptor members will be set to NULL"); GetPrinter gives the
// parts the handle may read, with PRINTER_ALL_ACCESS (READ_CONTROL) owner,
// group and DACL: here an empty self-relative descriptor.
void FillPrinter(Packer& p, const FakePrinter& q, PRINTER_INFO_2W* r, bool with_security = false) {
  *r = {};
  r->pPrinterName = p.Put(q.name, false);
  r->pShareName = p.Put(q.share_name);
  r->pPortName = p.Put(q.port, false);
  r->pDriverName = p.Put(q.driver, false);
  r->pComment = p.Put(q.comment);
  r->pLocation = p.Put(q.location);
  r->pPrintProcessor = p.Put(q.print_processor, false);
  r->pDatatype = p.Put(q.datatype, false);
  r->pDevMode = reinterpret_cast<DEVMODEW*>(p.PutBytes(q.devmode.data(), q.devmode.size()));
  if (with_security) {
    SECURITY_DESCRIPTOR_RELATIVE empty = {SECURITY_DESCRIPTOR_REVISION, 0, SE_SELF_RELATIVE, 0, 0, 0, 0};
    r->pSecurityDescriptor = p.PutBytes(&empty, sizeof(empty));
  }
  r->Attributes = q.attributes;
  r->cJobs = static_cast<DWORD>(q.jobs.size());
}

void FillPort(Packer& p, const std::wstring& port, PORT_INFO_2W* r) {
  *r = {};
  r->pPortName = p.Put(port, false);
  r->pMonitorName = p.Put(port.compare(0, 3, L"USB") == 0 ? L"USB Monitor" : L"Local Port", false);
  r->pDescription = p.Put(L"Local Port", false);
  r->fPortType = PORT_TYPE_READ | PORT_TYPE_WRITE;
}

// The shared shape of EnumPrinterDriversW and EnumPrintersW.
template <typename Record, typename Item, typename Fill>
BOOL Enumerate(const std::vector<const Item*>& items, LPBYTE buffer, DWORD capacity, LPDWORD needed,
               LPDWORD returned, Fill fill) {
  const size_t records = items.size() * sizeof(Record);
  Packer measure(nullptr, 0, records);
  Record scratch;
  for (const Item* item : items) fill(measure, *item, &scratch);
  if (needed != nullptr) *needed = static_cast<DWORD>(measure.size());
  if (returned != nullptr) *returned = 0;
  if (measure.size() > capacity || (buffer == nullptr && measure.size() > 0)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  Packer packer(buffer, capacity, records);
  auto* out = reinterpret_cast<Record*>(buffer);
  for (size_t i = 0; i < items.size(); ++i) fill(packer, *items[i], &out[i]);
  if (returned != nullptr) *returned = static_cast<DWORD>(items.size());
  return TRUE;
}

BOOL WINAPI FakeOpenPrinterW(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::OpenPrinterW, Text(name))) return FALSE;
  if (m.SpoolerUnavailable()) return FALSE;
  m.spooler.Settle(m.clock_ms);
  m.spooler.last_open_access = defaults != nullptr ? defaults->DesiredAccess : 0;
  if (handle == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  FakePrinter* printer = m.spooler.FindPrinter(Text(name));
  if (printer == nullptr) {
    *handle = nullptr;
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  *handle = m.OpenHandle("printer");
  m.spooler.open_printers[*handle] = printer->name;
  m.spooler.open_access[*handle] = m.spooler.last_open_access;
  return TRUE;
}

BOOL WINAPI FakeClosePrinter(HANDLE handle) {
  FakeMachine& m = Fake();
  m.calls.push_back({Seam::ClosePrinter, {}});
  m.spooler.open_access.erase(handle);
  if (m.spooler.open_printers.erase(handle) == 0) {
    ADD_FAILURE() << "ClosePrinter of a printer that is not open";
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  m.CloseHandleOf("printer", handle);
  return TRUE;
}

BOOL WINAPI FakeEnumPrinterDriversW(LPWSTR, LPWSTR environment, DWORD level, LPBYTE buffer,
                                    DWORD capacity, LPDWORD needed, LPDWORD returned) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::EnumPrinterDriversW, std::to_wstring(capacity))) return FALSE;
  if (m.SpoolerUnavailable()) return FALSE;
  if (level != 8) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  // EnumPrinterDrivers: "If this parameter is NULL, the function uses the
  // current environment of the caller/client (not of the destination/server)."
  const std::wstring want = EnvironmentOr(environment);
  if (!KnownEnvironment(want)) {
    SetLastError(ERROR_INVALID_ENVIRONMENT);
    return FALSE;
  }
  std::vector<const FakeDriver*> items;
  for (const FakeDriver& d : m.spooler.drivers) {
    if (SameName(d.environment, want)) items.push_back(&d);
  }
  return Enumerate<DRIVER_INFO_8W>(items, buffer, capacity, needed, returned, FillDriver);
}

BOOL WINAPI FakeEnumPrintersW(DWORD flags, LPWSTR, DWORD level, LPBYTE buffer, DWORD capacity,
                              LPDWORD needed, LPDWORD returned) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::EnumPrintersW, std::to_wstring(capacity))) return FALSE;
  if (m.SpoolerUnavailable()) return FALSE;
  m.spooler.Settle(m.clock_ms);
  if (level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  std::vector<const FakePrinter*> items;
  if (flags & PRINTER_ENUM_LOCAL) {
    for (const FakePrinter& q : m.spooler.printers) items.push_back(&q);
  }
  return Enumerate<PRINTER_INFO_2W>(items, buffer, capacity, needed, returned,
                                    [](Packer& p, const FakePrinter& q, PRINTER_INFO_2W* r) { FillPrinter(p, q, r); });
}

BOOL WINAPI FakeEnumPortsW(LPWSTR, DWORD level, LPBYTE buffer, DWORD capacity, LPDWORD needed,
                           LPDWORD returned) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::EnumPortsW, std::to_wstring(capacity))) return FALSE;
  if (m.SpoolerUnavailable()) return FALSE;
  if (level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  std::vector<const std::wstring*> items;
  for (const std::wstring& port : m.spooler.ports) items.push_back(&port);
  return Enumerate<PORT_INFO_2W>(items, buffer, capacity, needed, returned, FillPort);
}

BOOL WINAPI FakeGetPrinterDriverDirectoryW(LPWSTR, LPWSTR environment, DWORD level, LPBYTE buffer,
                                           DWORD capacity, LPDWORD needed) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetPrinterDriverDirectoryW, Text(environment))) return FALSE;
  if (m.SpoolerUnavailable()) return FALSE;
  if (level != 1) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  // GetPrinterDriverDirectory: with a null environment "the current
  // environment of the calling application and client machine ... is used".
  const std::wstring folder = m.spooler.DirectoryOf(EnvironmentOr(environment));
  if (folder.empty()) {
    SetLastError(ERROR_INVALID_ENVIRONMENT);
    return FALSE;
  }
  const DWORD bytes = static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t));
  if (needed != nullptr) *needed = bytes;
  if (buffer == nullptr || capacity < bytes) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, folder.c_str(), bytes);
  return TRUE;
}

// A driver file as the spooler finds it: a bare name in the printer-driver
// directory, anything else as given.
bool DriverFileExists(const std::wstring& directory, const wchar_t* file) {
  if (file == nullptr || file[0] == L'\0') return false;
  std::wstring path = file;
  if (path.find(L'\\') == std::wstring::npos) path = directory + L"\\" + path;
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> ReadMultiString(const wchar_t* list) {
  std::vector<std::wstring> texts;
  for (const wchar_t* p = list; p != nullptr && *p != L'\0'; p += texts.back().size() + 1) {
    texts.emplace_back(p);
  }
  return texts;
}

// AddPrinterDriver(Ex) at level 8: the record, and the files it names copied
// from the driver directory into its version folder ("3"), where the spooler
// uses them. As the AddPrinterDriverEx page documents dwFileCopyFlags:
// APD_COPY_ALL_FILES copies every file, its time stamp ignored;
// APD_COPY_NEW_FILES, which AddPrinterDriver's behaviour is, copies only the
// files newer than the ones in use (here: by last-write time).
bool NewerThan(const std::wstring& source, const std::wstring& target) {
  WIN32_FILE_ATTRIBUTE_DATA a = {};
  WIN32_FILE_ATTRIBUTE_DATA b = {};
  if (!GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &b)) return true;
  if (!GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &a)) return false;
  return CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) > 0;
}

BOOL AddDriver(FakeMachine& m, DWORD level, const DRIVER_INFO_8W* r, DWORD flags) {
  if (m.SpoolerUnavailable()) return FALSE;
  if (!m.LoadDriverPrivilegeOn()) return FALSE;
  if (level != 8) {
    ADD_FAILURE() << "the fake machine models AddPrinterDriverW at level 8 only";
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  // DRIVER_INFO_8: pszInfPath and pszzCoreDriverDependencies "must be NULL",
  // dwPrinterDriverAttributes "must be 0", "if the DRIVER_INFO_8 is being
  // passed to AddPrinterDriver or AddPrinterDriverEx".
  if (r == nullptr || r->pName == nullptr || r->pName[0] == L'\0' || r->cVersion != 3 || r->pszInfPath != nullptr ||
      r->dwPrinterDriverAttributes != 0 || r->pszzCoreDriverDependencies != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::wstring environment = EnvironmentOr(r->pEnvironment);
  // AddPrinterDriver: the files "must be copied to the system's printer-driver
  // directory" - that of the record's environment.
  const std::wstring directory = m.spooler.DirectoryOf(environment);
  if (directory.empty()) {
    SetLastError(ERROR_INVALID_ENVIRONMENT);
    return FALSE;
  }
  std::vector<std::wstring> dependent = ReadMultiString(r->pDependentFiles);
  bool files = DriverFileExists(directory, r->pDriverPath) && DriverFileExists(directory, r->pDataFile) &&
               DriverFileExists(directory, r->pConfigFile);
  for (const std::wstring& f : dependent) files = files && DriverFileExists(directory, f.c_str());
  if (!files) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (r->pMonitorName != nullptr && m.spooler.FindMonitor(r->pMonitorName) == nullptr) {
    SetLastError(ERROR_UNKNOWN_PRINT_MONITOR);
    return FALSE;
  }
  FakeDriver d;
  d.name = r->pName;
  d.environment = environment;
  d.driver_path = Text(r->pDriverPath);
  d.config_file = Text(r->pConfigFile);
  d.data_file = Text(r->pDataFile);
  d.dependent_files = dependent;
  d.monitor = Text(r->pMonitorName);
  d.manufacturer = Text(r->pszMfgName);
  d.version = r->dwlDriverVersion;
  d.date = r->ftDriverDate;
  d.cversion = r->cVersion;
  d.default_datatype = Text(r->pDefaultDataType);
  d.provider = Text(r->pszProvider);
  d.print_processor = Text(r->pszPrintProcessor);
  // A driver of the same name and environment is upgraded in place.
  if (FakeDriver* old = m.spooler.FindDriver(d.name, environment)) *old = d;
  else m.spooler.drivers.push_back(d);
  const std::wstring version_folder = directory + L"\\3";
  CreateDirectoryW(version_folder.c_str(), nullptr);
  std::vector<std::wstring> names = {d.driver_path, d.config_file, d.data_file};
  names.insert(names.end(), dependent.begin(), dependent.end());
  for (const std::wstring& name : names) {
    const std::wstring source = directory + L"\\" + name;
    const std::wstring target = version_folder + L"\\" + name;
    if ((flags & APD_COPY_ALL_FILES) != 0 || NewerThan(source, target)) CopyFileW(source.c_str(), target.c_str(), FALSE);
  }
  return TRUE;
}

BOOL WINAPI FakeAddPrinterDriverW(LPWSTR, DWORD level, LPBYTE info) {
  FakeMachine& m = Fake();
  const auto* r = reinterpret_cast<const DRIVER_INFO_8W*>(info);
  if (m.Enter(Seam::AddPrinterDriverW, level == 8 && r != nullptr ? Text(r->pName) : L"")) return FALSE;
  return AddDriver(m, level, r, APD_COPY_NEW_FILES);
}

BOOL WINAPI FakeAddPrinterDriverExW(LPWSTR, DWORD level, LPBYTE info, DWORD flags) {
  FakeMachine& m = Fake();
  const auto* r = reinterpret_cast<const DRIVER_INFO_8W*>(info);
  if (m.Enter(Seam::AddPrinterDriverExW, level == 8 && r != nullptr ? Text(r->pName) : L"")) return FALSE;
  m.spooler.driver_add_flags = flags;
  return AddDriver(m, level, r, flags);
}

BOOL WINAPI FakeAddMonitorW(LPWSTR, DWORD level, LPBYTE info) {
  FakeMachine& m = Fake();
  const auto* r = reinterpret_cast<const MONITOR_INFO_2W*>(info);
  if (m.Enter(Seam::AddMonitorW, level == 2 && r != nullptr ? Text(r->pName) : L"")) return FALSE;
  if (m.SpoolerUnavailable()) return FALSE;
  if (!m.LoadDriverPrivilegeOn()) return FALSE;
  if (level != 2 || r == nullptr || r->pName == nullptr || r->pDLLName == nullptr) {
    SetLastError(level != 2 ? ERROR_INVALID_LEVEL : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // AddMonitor: a null pEnvironment is "the current environment of the
  // caller (client)", and "the call will fail if the environment does not
  // match the environment of the server". The page names no code.
  const std::wstring environment = EnvironmentOr(r->pEnvironment);
  if (!SameName(environment, m.MachineEnvironment())) {
    SetLastError(ERROR_INVALID_ENVIRONMENT);
    return FALSE;
  }
  if (m.spooler.FindMonitor(r->pName) != nullptr) {
    SetLastError(ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    return FALSE;
  }
  // The spooler loads the monitor from the system directory.
  const std::wstring dll = m.system_directory + L"\\" + r->pDLLName;
  if (GetFileAttributesW(dll.c_str()) == INVALID_FILE_ATTRIBUTES) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  m.spooler.monitors.push_back({r->pName, r->pDLLName, environment});
  return TRUE;
}

HANDLE WINAPI FakeAddPrinterW(LPWSTR, DWORD level, LPBYTE info) {
  FakeMachine& m = Fake();
  const auto* r = reinterpret_cast<const PRINTER_INFO_2W*>(info);
  if (m.Enter(Seam::AddPrinterW, level == 2 && r != nullptr ? Text(r->pPrinterName) : L"")) return nullptr;
  if (level != 2) {
    ADD_FAILURE() << "the fake machine models AddPrinterW at level 2 only";
    SetLastError(ERROR_INVALID_LEVEL);
    return nullptr;
  }
  if (m.SpoolerUnavailable()) return nullptr;
  // AddPrinter: "The caller must have the SeLoadDriverPrivilege."
  if (!m.LoadDriverPrivilegeOn()) return nullptr;
  if (r == nullptr || r->pPrinterName == nullptr || r->pPrinterName[0] == L'\0' ||
      r->pPortName == nullptr || r->pDriverName == nullptr || r->pPrintProcessor == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  m.spooler.Settle(m.clock_ms);
  // RpcAddPrinter checks the driver, then the port, and the name last.
  if (m.spooler.FindDriver(r->pDriverName, m.MachineEnvironment()) == nullptr) {
    SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
    return nullptr;
  }
  bool port_known = false;
  for (const std::wstring& port : m.spooler.ports) port_known = port_known || SameName(port, r->pPortName);
  if (!port_known) {
    SetLastError(ERROR_UNKNOWN_PORT);
    return nullptr;
  }
  if (m.spooler.FindPrinter(r->pPrinterName) != nullptr) {
    SetLastError(ERROR_PRINTER_ALREADY_EXISTS);
    return nullptr;
  }
  FakePrinter q;
  q.name = r->pPrinterName;
  q.port = r->pPortName;
  q.driver = r->pDriverName;
  q.print_processor = r->pPrintProcessor;
  q.datatype = Text(r->pDatatype);
  q.attributes = r->Attributes;
  m.spooler.printers.push_back(q);
  HANDLE handle = m.OpenHandle("printer");
  m.spooler.open_printers[handle] = q.name;
  // AddPrinter: "The handle returned by the function will have PRINTER_ALL_ACCESS permission".
  m.spooler.open_access[handle] = PRINTER_ALL_ACCESS;
  return handle;
}

// A failure injected into a call that answers with an HRESULT: an HRESULT is
// passed on as it is, a Windows error code is wrapped.
HRESULT AsHresult(DWORD error) {
  return (error & 0x80000000u) != 0 ? static_cast<HRESULT>(error) : HRESULT_FROM_WIN32(error);
}

// Copies one file of a package into the driver store's folder of it.
void CopyIntoStore(const std::wstring& from_folder, const std::wstring& to_folder, const std::wstring& sub,
                   const std::wstring& name) {
  const std::wstring to = sub.empty() ? to_folder : to_folder + L"\\" + sub;
  CreateDirectoryW(to.c_str(), nullptr);
  const std::wstring from = (sub.empty() ? from_folder : from_folder + L"\\" + sub) + L"\\" + name;
  CopyFileW(from.c_str(), (to + L"\\" + name).c_str(), FALSE);
}

}  // namespace

// Staging a package as the Driver Store page describes it: the INF and the
// files it names for the environment, in a folder of the store of their own
// (here "<inf>_<architecture>_5c1e0b2a", the same for every version); the
// path of the INF there. Files keep the folders they had in the package.
std::wstring StageIntoDriverStore(FakeMachine& m, const std::wstring& inf_path, const std::wstring& environment,
                                  bool again) {
  const size_t slash = inf_path.find_last_of(L"\\/");
  const std::wstring name = inf_path.substr(slash + 1);
  const std::wstring package = inf_path.substr(0, slash);
  std::wstring lower = name;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  const std::wstring folder =
      FakeMachine::kStoreRoot + lower + L"_" + ArchitectureFolder(environment) + L"_5c1e0b2a";
  const std::wstring stored = folder + L"\\" + name;
  // A package the store holds already is used as it is there.
  if (!again && GetFileAttributesW(m.RealPath(stored).c_str()) != INVALID_FILE_ATTRIBUTES) return stored;
  m.StorePackage(stored, L"");
  const std::wstring real = m.RealPath(folder);
  CopyFileW(inf_path.c_str(), (real + L"\\" + name).c_str(), FALSE);
  for (const wchar_t* file : {L"vlm6drv6.dll", L"vlm6drv6ui.dll", L"vlm6mon.dll"}) {
    CopyIntoStore(package, real, ArchitectureFolder(environment), file);
  }
  CopyIntoStore(package, real, L"dat", L"vlm6drv6.dat");
  // A version the test gave the package's INF goes with its copy.
  for (const auto& [path, version] : m.spooler.inf_versions) {
    if (SameName(path, inf_path)) {
      m.spooler.inf_versions[stored] = version;
      break;
    }
  }
  return stored;
}

namespace {

HRESULT WINAPI FakeUploadPrinterDriverPackageW(LPCWSTR, LPCWSTR inf_path, LPCWSTR environment, DWORD flags, HWND,
                                               LPWSTR destination, PULONG destination_chars) {
  FakeMachine& m = Fake();
  m.spooler.upload_flags = flags;
  DWORD error = 0;
  if (m.Enter(Seam::UploadPrinterDriverPackageW, Text(inf_path), &error)) return AsHresult(error);
  if (m.SpoolerUnavailable()) return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
  m.spooler.upload_environment = Text(environment);
  if (inf_path == nullptr || GetFileAttributesW(inf_path) == INVALID_FILE_ATTRIBUTES) {
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  // What a null environment selects is undocumented; the caller's, as elsewhere.
  const std::wstring target = EnvironmentOr(environment);
  std::wstring name = inf_path;
  name = name.substr(name.find_last_of(L"\\/") + 1);
  std::wstring lower = name;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  const std::wstring stored =
      FakeMachine::kStoreRoot + lower + L"_" + ArchitectureFolder(target) + L"_5c1e0b2a\\" + name;
  if (destination_chars == nullptr || destination == nullptr || *destination_chars < stored.size() + 1) {
    if (destination_chars != nullptr) *destination_chars = static_cast<ULONG>(stored.size() + 1);
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  // Driver Store: "If the INF file references a file that isn't included in
  // the driver package, the driver package isn't copied". The HRESULT is
  // undocumented.
  const std::wstring package = std::wstring(inf_path).substr(0, std::wstring(inf_path).find_last_of(L"\\/"));
  for (const std::wstring& file : {ArchitectureFolder(target) + L"\\vlm6drv6.dll", ArchitectureFolder(target) + L"\\vlm6drv6ui.dll",
                                   ArchitectureFolder(target) + L"\\vlm6mon.dll", std::wstring(L"dat\\vlm6drv6.dat")}) {
    if (GetFileAttributesW((package + L"\\" + file).c_str()) == INVALID_FILE_ATTRIBUTES) {
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
  }
  StageIntoDriverStore(m, inf_path, target, true);
  stored.copy(destination, stored.size());
  destination[stored.size()] = L'\0';
  *destination_chars = static_cast<ULONG>(stored.size() + 1);
  return S_OK;
}

// InstallPrinterDriverFromPackage: the driver from a package "that is in the
// print server's driver store"; dwFlags "can only be 0 or
// IPDFP_COPY_ALL_FILES", which ignores time stamps. The driver's record names
// the store's INF ("the path of the INF file inside the driver store from
// which the printer driver was installed") and carries its DriverVer.
HRESULT WINAPI FakeInstallPrinterDriverFromPackageW(LPCWSTR, LPCWSTR inf_path, LPCWSTR driver_name,
                                                    LPCWSTR environment, DWORD flags) {
  FakeMachine& m = Fake();
  DWORD error = 0;
  if (m.Enter(Seam::InstallPrinterDriverFromPackageW, Text(driver_name), &error)) return AsHresult(error);
  if (m.SpoolerUnavailable()) return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
  if ((flags & ~static_cast<DWORD>(IPDFP_COPY_ALL_FILES)) != 0 || driver_name == nullptr || driver_name[0] == L'\0') {
    return E_INVALIDARG;
  }
  bool stored = false;
  for (const std::wstring& p : m.spooler.packages) stored = stored || SameName(p, Text(inf_path));
  if (!stored) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  const std::wstring target = EnvironmentOr(environment);
  const std::wstring directory = m.spooler.DirectoryOf(target);
  if (directory.empty()) return HRESULT_FROM_WIN32(ERROR_INVALID_ENVIRONMENT);
  m.spooler.package_install_flags = flags;
  InstallDriverFromStore(m, Text(inf_path), driver_name, target, (flags & IPDFP_COPY_ALL_FILES) != 0);
  return S_OK;
}

// The printer an open handle stands for, or null (ERROR_INVALID_HANDLE).
FakePrinter* PrinterOf(FakeMachine& m, HANDLE handle) {
  auto open = m.spooler.open_printers.find(handle);
  FakePrinter* printer = open != m.spooler.open_printers.end() ? m.spooler.FindPrinter(open->second) : nullptr;
  if (printer == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return printer;
}

// GetPrinter at level 2 on an open printer: "If the buffer is too small, the
// pcbNeeded parameter returns the required buffer size"; the record, then its
// strings and data behind it.
BOOL WINAPI FakeGetPrinterW(HANDLE handle, DWORD level, LPBYTE buffer, DWORD capacity, LPDWORD needed) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetPrinterW)) return FALSE;
  if (m.SpoolerUnavailable()) return FALSE;
  FakePrinter* printer = PrinterOf(m, handle);
  if (printer == nullptr) return FALSE;
  if (level != 2) {
    ADD_FAILURE() << "the fake machine models GetPrinterW at level 2 only";
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  Packer measure(nullptr, 0, sizeof(PRINTER_INFO_2W));
  PRINTER_INFO_2W scratch;
  FillPrinter(measure, *printer, &scratch, true);
  if (needed != nullptr) *needed = static_cast<DWORD>(measure.size());
  if (buffer == nullptr || capacity < measure.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  Packer packer(buffer, capacity, sizeof(PRINTER_INFO_2W));
  FillPrinter(packer, *printer, reinterpret_cast<PRINTER_INFO_2W*>(buffer), true);
  return TRUE;
}

// EnumMonitors at level 2 (the page allows 1 or 2): the size query fails with
// ERROR_INSUFFICIENT_BUFFER and gives pcbNeeded, as the other lists do.
BOOL WINAPI FakeEnumMonitorsW(LPWSTR, DWORD level, LPBYTE buffer, DWORD capacity, LPDWORD needed, LPDWORD returned) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::EnumMonitorsW, std::to_wstring(capacity))) return FALSE;
  if (m.SpoolerUnavailable()) return FALSE;
  if (level != 2) {
    if (level == 1) ADD_FAILURE() << "the fake machine models EnumMonitorsW at level 2 only";
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  std::vector<const FakeMonitor*> items;
  for (const FakeMonitor& monitor : m.spooler.monitors) items.push_back(&monitor);
  return Enumerate<MONITOR_INFO_2W>(items, buffer, capacity, needed, returned,
                                    [](Packer& p, const FakeMonitor& monitor, MONITOR_INFO_2W* r) {
                                      *r = {};
                                      r->pName = p.Put(monitor.name, false);
                                      r->pEnvironment = p.Put(monitor.environment, false);
                                      r->pDLLName = p.Put(monitor.dll, false);
                                    });
}

// EnumJobs at level 1 on an open printer: the size query, then the jobs
// (JOB_INFO_1: "JOB_STATUS_PRINTING - Job is printing").
BOOL WINAPI FakeEnumJobsW(HANDLE handle, DWORD first, DWORD count, DWORD level, LPBYTE buffer, DWORD capacity,
                          LPDWORD needed, LPDWORD returned) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::EnumJobsW)) return FALSE;
  if (m.SpoolerUnavailable()) return FALSE;
  FakePrinter* printer = PrinterOf(m, handle);
  if (printer == nullptr) return FALSE;
  if (level != 1) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  std::vector<const FakeJob*> items;
  for (size_t i = first; i < printer->jobs.size() && items.size() < count; ++i) items.push_back(&printer->jobs[i]);
  const std::wstring name = printer->name;
  return Enumerate<JOB_INFO_1W>(items, buffer, capacity, needed, returned,
                                [&](Packer& p, const FakeJob& job, JOB_INFO_1W* r) {
                                  *r = {};
                                  r->JobId = job.id;
                                  r->pPrinterName = p.Put(name, false);
                                  r->pDocument = p.Put(L"Document", false);
                                  r->Status = job.status;
                                });
}

}  // namespace

// A version from a DriverVer's "w.x.y.z" and a time from its date, as a Plug
// and Play or package install records them (DRIVER_INFO_8: "The strings for
// these members are contained in the .inf file that is used to add the driver").
void ReadFakeDriverVer(const std::wstring& text, DWORDLONG& version, FILETIME& date) {
  unsigned month = 0, day = 0, year = 0, w = 0, x = 0, y = 0, z = 0;
  version = 0;
  date = {};
  if (swscanf(text.c_str(), L"%u/%u/%u,%u.%u.%u.%u", &month, &day, &year, &w, &x, &y, &z) < 3) return;
  version = (static_cast<DWORDLONG>(w) << 48) | (static_cast<DWORDLONG>(x) << 32) | (static_cast<DWORDLONG>(y) << 16) | z;
  SYSTEMTIME t = {};
  t.wYear = static_cast<WORD>(year);
  t.wMonth = static_cast<WORD>(month);
  t.wDay = static_cast<WORD>(day);
  SystemTimeToFileTime(&t, &date);
}

void InstallDriverFromStore(FakeMachine& m, const std::wstring& store_inf, const std::wstring& name,
                            const std::wstring& environment, bool copy_all) {
  FakeDriver d;
  d.name = name;
  d.environment = environment;
  d.driver_path = L"vlm6drv6.dll";
  d.config_file = L"vlm6drv6ui.dll";
  d.data_file = L"vlm6drv6.dat";
  d.dependent_files = {L"vlm6mon.dll"};
  d.monitor = L"Vellumor Language Monitor V6";
  d.inf_path = store_inf;
  d.manufacturer = L"Vellumor";
  d.provider = L"Vellumor.V6";
  d.default_datatype = L"RAW";
  std::wstring version;
  if (FindDriverVer(m, store_inf, version)) ReadFakeDriverVer(version, d.version, d.date);
  if (FakeDriver* old = m.spooler.FindDriver(name, environment)) *old = d;
  else m.spooler.drivers.push_back(d);
  // The files, from the package's folder in the store into the version folder.
  const std::wstring store = m.RealPath(store_inf.substr(0, store_inf.find_last_of(L'\\')));
  const std::wstring version_folder = m.spooler.DirectoryOf(environment) + L"\\3";
  CreateDirectoryW(version_folder.c_str(), nullptr);
  const std::wstring architecture = ArchitectureFolder(environment);
  for (const auto& [sub, file] : std::vector<std::pair<std::wstring, std::wstring>>{
           {architecture, d.driver_path}, {architecture, d.config_file}, {L"dat", d.data_file}, {architecture, L"vlm6mon.dll"}}) {
    const std::wstring source = store + L"\\" + sub + L"\\" + file;
    const std::wstring target = version_folder + L"\\" + file;
    if (copy_all || NewerThan(source, target)) CopyFileW(source.c_str(), target.c_str(), FALSE);
  }
  // The spooler's record of the package it installed a driver from.
  const std::wstring folder = store_inf.substr(0, store_inf.find_last_of(L'\\'));
  m.registry.AddDriverPackage(environment, folder.substr(folder.find_last_of(L'\\') + 1), store_inf);
}

std::wstring FakeSpooler::DirectoryOf(const std::wstring& environment) const {
  for (const auto& [name, folder] : driver_directories) {
    if (SameName(name, environment)) return folder;
  }
  return L"";
}

FakeDriver* FakeSpooler::FindDriver(const std::wstring& name, const std::wstring& environment) {
  for (FakeDriver& d : drivers) {
    if (SameName(d.name, name) && SameName(d.environment, environment)) return &d;
  }
  return nullptr;
}

FakeMonitor* FakeSpooler::FindMonitor(const std::wstring& name) {
  for (FakeMonitor& mon : monitors) {
    if (SameName(mon.name, name)) return &mon;
  }
  return nullptr;
}

void FakeSpooler::Settle(uint64_t now_ms) {
  for (auto it = pending_printers.begin(); it != pending_printers.end();) {
    if (it->at_ms > now_ms) {
      ++it;
      continue;
    }
    if (FindPrinter(it->printer.name) == nullptr) printers.push_back(it->printer);
    it = pending_printers.erase(it);
  }
}

FakePrinter* FakeSpooler::FindPrinter(const std::wstring& name) {
  for (FakePrinter& p : printers) {
    if (SameName(p.name, name)) return &p;
  }
  return nullptr;
}

FakeDriver* FakeSpooler::FindDriver(const std::wstring& name) {
  for (FakeDriver& d : drivers) {
    if (SameName(d.name, name)) return &d;
  }
  return nullptr;
}

void InstallSpoolerFakes(OsTable& t) {
  t.OpenPrinterW = FakeOpenPrinterW;
  t.ClosePrinter = FakeClosePrinter;
  t.EnumPrinterDriversW = FakeEnumPrinterDriversW;
  t.EnumPrintersW = FakeEnumPrintersW;
  t.EnumPortsW = FakeEnumPortsW;
  t.GetPrinterDriverDirectoryW = FakeGetPrinterDriverDirectoryW;
  t.AddPrinterDriverW = FakeAddPrinterDriverW;
  t.AddPrinterDriverExW = FakeAddPrinterDriverExW;
  t.AddMonitorW = FakeAddMonitorW;
  t.AddPrinterW = FakeAddPrinterW;
  t.UploadPrinterDriverPackageW = FakeUploadPrinterDriverPackageW;
  t.InstallPrinterDriverFromPackageW = FakeInstallPrinterDriverFromPackageW;
  t.EnumJobsW = FakeEnumJobsW;
  t.GetPrinterW = FakeGetPrinterW;
  t.EnumMonitorsW = FakeEnumMonitorsW;
}
