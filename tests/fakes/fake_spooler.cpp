// The print spooler of the fake machine: printers and drivers, opened and
// listed as winspool does.
#include <gtest/gtest.h>

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
  r->pPrintProcessor = p.Put(L"winprint", false);
  r->pDatatype = p.Put(L"RAW", false);
  r->Attributes = PRINTER_ATTRIBUTE_LOCAL;
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

BOOL WINAPI FakeOpenPrinterW(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW) {
  FakeMachine& m = Fake();
  if (m.Enter("OpenPrinterW", Text(name))) return FALSE;
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
  m.calls.push_back({"ClosePrinter", {}});
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
  if (m.Enter("EnumPrinterDriversW", std::to_wstring(capacity))) return FALSE;
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
  if (m.Enter("EnumPrintersW", std::to_wstring(capacity))) return FALSE;
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

}  // namespace

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
}
