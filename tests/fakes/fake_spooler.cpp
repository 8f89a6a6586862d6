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

void FillPrinter(Packer& p, const FakePrinter& q, PRINTER_INFO_2W* r) {
  *r = {};
  r->pPrinterName = p.Put(q.name, false);
  r->pPortName = p.Put(q.port, false);
  r->pDriverName = p.Put(q.driver, false);
  r->pPrintProcessor = p.Put(q.print_processor, false);
  r->pDatatype = p.Put(q.datatype, false);
  r->Attributes = q.attributes;
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
  return TRUE;
}

BOOL WINAPI FakeClosePrinter(HANDLE handle) {
  FakeMachine& m = Fake();
  m.calls.push_back({Seam::ClosePrinter, {}});
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
  if (level != 8) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  // No environment: the one of the native architecture, here "Windows x64".
  const std::wstring want = environment != nullptr ? environment : L"Windows x64";
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
  m.spooler.Settle(m.clock_ms);
  if (level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  std::vector<const FakePrinter*> items;
  if (flags & PRINTER_ENUM_LOCAL) {
    for (const FakePrinter& q : m.spooler.printers) items.push_back(&q);
  }
  return Enumerate<PRINTER_INFO_2W>(items, buffer, capacity, needed, returned, FillPrinter);
}

BOOL WINAPI FakeEnumPortsW(LPWSTR, DWORD level, LPBYTE buffer, DWORD capacity, LPDWORD needed,
                           LPDWORD returned) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::EnumPortsW, std::to_wstring(capacity))) return FALSE;
  if (level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  std::vector<const std::wstring*> items;
  for (const std::wstring& port : m.spooler.ports) items.push_back(&port);
  return Enumerate<PORT_INFO_2W>(items, buffer, capacity, needed, returned, FillPort);
}

BOOL WINAPI FakeGetPrinterDriverDirectoryW(LPWSTR, LPWSTR, DWORD level, LPBYTE buffer,
                                           DWORD capacity, LPDWORD needed) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetPrinterDriverDirectoryW, std::to_wstring(capacity))) return FALSE;
  if (level != 1) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  const std::wstring& folder = m.spooler.driver_directory;
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
bool DriverFileExists(const FakeMachine& m, const wchar_t* file) {
  if (file == nullptr || file[0] == L'\0') return false;
  std::wstring path = file;
  if (path.find(L'\\') == std::wstring::npos) path = m.spooler.driver_directory + L"\\" + path;
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
  if (!m.LoadDriverPrivilegeOn()) return FALSE;
  if (level != 8) {
    ADD_FAILURE() << "the fake machine models AddPrinterDriverW at level 8 only";
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (r == nullptr || r->pName == nullptr || r->pName[0] == L'\0' || r->cVersion != 3) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<std::wstring> dependent = ReadMultiString(r->pDependentFiles);
  bool files = DriverFileExists(m, r->pDriverPath) && DriverFileExists(m, r->pDataFile) &&
               DriverFileExists(m, r->pConfigFile);
  for (const std::wstring& f : dependent) files = files && DriverFileExists(m, f.c_str());
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
  if (r->pEnvironment != nullptr) d.environment = r->pEnvironment;
  d.driver_path = Text(r->pDriverPath);
  d.config_file = Text(r->pConfigFile);
  d.data_file = Text(r->pDataFile);
  d.dependent_files = dependent;
  d.monitor = Text(r->pMonitorName);
  d.inf_path = Text(r->pszInfPath);
  d.manufacturer = Text(r->pszMfgName);
  d.version = r->dwlDriverVersion;
  d.date = r->ftDriverDate;
  d.cversion = r->cVersion;
  d.default_datatype = Text(r->pDefaultDataType);
  d.provider = Text(r->pszProvider);
  d.print_processor = Text(r->pszPrintProcessor);
  // A driver of the same name is upgraded in place.
  if (FakeDriver* old = m.spooler.FindDriver(d.name)) *old = d;
  else m.spooler.drivers.push_back(d);
  const std::wstring version_folder = m.spooler.driver_directory + L"\\3";
  CreateDirectoryW(version_folder.c_str(), nullptr);
  std::vector<std::wstring> names = {d.driver_path, d.config_file, d.data_file};
  names.insert(names.end(), dependent.begin(), dependent.end());
  for (const std::wstring& name : names) {
    const std::wstring source = m.spooler.driver_directory + L"\\" + name;
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
  if (!m.LoadDriverPrivilegeOn()) return FALSE;
  if (level != 2 || r == nullptr || r->pName == nullptr || r->pDLLName == nullptr) {
    SetLastError(level != 2 ? ERROR_INVALID_LEVEL : ERROR_INVALID_PARAMETER);
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
  m.spooler.monitors.push_back({r->pName, r->pDLLName});
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
  if (r == nullptr || r->pPrinterName == nullptr || r->pPrinterName[0] == L'\0' ||
      r->pPortName == nullptr || r->pDriverName == nullptr || r->pPrintProcessor == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  m.spooler.Settle(m.clock_ms);
  if (m.spooler.FindPrinter(r->pPrinterName) != nullptr) {
    SetLastError(ERROR_PRINTER_ALREADY_EXISTS);
    return nullptr;
  }
  if (m.spooler.FindDriver(r->pDriverName) == nullptr) {
    SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
    return nullptr;
  }
  bool port_known = false;
  for (const std::wstring& port : m.spooler.ports) port_known = port_known || SameName(port, r->pPortName);
  if (!port_known) {
    SetLastError(ERROR_UNKNOWN_PORT);
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
  return handle;
}

// A failure injected into a call that answers with an HRESULT: an HRESULT is
// passed on as it is, a Windows error code is wrapped.
HRESULT AsHresult(DWORD error) {
  return (error & 0x80000000u) != 0 ? static_cast<HRESULT>(error) : HRESULT_FROM_WIN32(error);
}

HRESULT WINAPI FakeUploadPrinterDriverPackageW(LPCWSTR, LPCWSTR inf_path, LPCWSTR, DWORD flags, HWND,
                                               LPWSTR destination, PULONG destination_chars) {
  FakeMachine& m = Fake();
  m.spooler.upload_flags = flags;
  DWORD error = 0;
  if (m.Enter(Seam::UploadPrinterDriverPackageW, Text(inf_path), &error)) return AsHresult(error);
  if (inf_path == nullptr || GetFileAttributesW(inf_path) == INVALID_FILE_ATTRIBUTES) {
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  std::wstring name = inf_path;
  name = name.substr(name.find_last_of(L"\\/") + 1);
  std::wstring folder = name;
  for (wchar_t& c : folder) c = static_cast<wchar_t>(std::towlower(c));
  const std::wstring stored =
      L"C:\\Windows\\System32\\DriverStore\\FileRepository\\" + folder + L"_amd64_5c1e0b2a\\" + name;
  if (destination_chars == nullptr || destination == nullptr || *destination_chars < stored.size() + 1) {
    if (destination_chars != nullptr) *destination_chars = static_cast<ULONG>(stored.size() + 1);
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  stored.copy(destination, stored.size());
  destination[stored.size()] = L'\0';
  *destination_chars = static_cast<ULONG>(stored.size() + 1);
  bool known = false;
  for (const std::wstring& p : m.spooler.packages) known = known || SameName(p, stored);
  if (!known) m.spooler.packages.push_back(stored);
  return S_OK;
}

}  // namespace

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
}
