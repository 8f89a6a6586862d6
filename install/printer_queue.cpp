#include "install/printer_queue.h"

#include <cwchar>

#include "common/package.h"
#include "common/scoped_handle.h"
#include "common/spooler_listing.h"
#include "common/trace.h"
#include "discovery/usb_printers.h"
#include "platform/os.h"

namespace {

// Windows counts copies far lower; a name beyond this is not looked for.
constexpr int kMostCopies = 99;
constexpr wchar_t kCopyMark[] = L" (Copy ";

// The spooler's local queues and the drivers of the machine's environment.
struct SpoolerQueues {
  LocalBlock<PRINTER_INFO_2W> printers;
  DWORD printer_count = 0;
  LocalBlock<DRIVER_INFO_8W> drivers;
  DWORD driver_count = 0;

  void Read() {
    ListSpoolerRecords(
        [](LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD count) {
          return os.EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer, size, needed, count);
        },
        printers, printer_count);
    ListSpoolerRecords(
        [](LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD count) {
          return os.EnumPrinterDriversW(nullptr, const_cast<LPWSTR>(MachineEnvironment()), 8, buffer, size, needed,
                                        count);
        },
        drivers, driver_count);
  }
  const PRINTER_INFO_2W& Printer(DWORD i) const { return printers.get()[i]; }

  // A driver of the family: its driver DLL is the package's, as the
  // inventory recognises it.
  bool FamilyDriver(const wchar_t* name) const {
    if (name == nullptr) return false;
    for (DWORD i = 0; i < driver_count; ++i) {
      const DRIVER_INFO_8W& driver = drivers.get()[i];
      if (driver.pName != nullptr && std::wcscmp(driver.pName, name) == 0 && driver.pDriverPath != nullptr &&
          std::wcsstr(driver.pDriverPath, kDriverDll) != nullptr) {
        return true;
      }
    }
    return false;
  }
  // Queue names are the spooler's, which ignores letter case.
  bool NameTaken(const wchar_t* name) const {
    for (DWORD i = 0; i < printer_count; ++i) {
      if (Printer(i).pPrinterName != nullptr && _wcsicmp(Printer(i).pPrinterName, name) == 0) return true;
    }
    return false;
  }
};

// Whether `port` is one of a queue's ports: a queue that prints to a pool
// names them separated by commas.
bool OnPort(const wchar_t* ports, const wchar_t* port) {
  if (ports == nullptr) return false;
  const size_t length = std::wcslen(port);
  for (const wchar_t* part = ports;;) {
    const wchar_t* comma = std::wcschr(part, L',');
    const size_t part_length = comma != nullptr ? static_cast<size_t>(comma - part) : std::wcslen(part);
    if (part_length == length && std::wcsncmp(part, port, length) == 0) return true;
    if (comma == nullptr) return false;
    part = comma + 1;
  }
}

// Whether an attached printer uses any of these ports.
bool PortInUse(const wchar_t* ports) {
  for (const UsbPrinterDevice* device = UsbPrinterList; device != nullptr; device = device->next) {
    if (OnPort(ports, device->port_name.c_str())) return true;
  }
  return false;
}

// The printer's name, or it with " (Copy <n>)" behind it.
bool NamedLike(const wchar_t* queue, const wchar_t* printer) {
  const size_t length = std::wcslen(printer);
  if (_wcsnicmp(queue, printer, length) != 0) return false;
  const wchar_t* rest = queue + length;
  if (*rest == L'\0') return true;
  if (std::wcsncmp(rest, kCopyMark, std::wcslen(kCopyMark)) != 0) return false;
  rest += std::wcslen(kCopyMark);
  const wchar_t* digits = rest;
  while (*rest >= L'0' && *rest <= L'9') ++rest;
  return rest != digits && rest[0] == L')' && rest[1] == L'\0';
}

// The printer's name, or the first "<printer> (Copy n)" that no queue has;
// empty when none is free.
void NameNewQueue(const SpoolerQueues& queues, const wchar_t* printer, QueueNameText& name) {
  if (!BoundedCopy(name, printer)) return;
  for (int copy = 1; queues.NameTaken(name.c_str()); ++copy) {
    if (copy > kMostCopies || !BoundedFormat(name, L"%ws%ws%d)", printer, kCopyMark, copy)) {
      name.clear();
      return;
    }
  }
}

PrinterQueue Find(const PrinterInstallRequest& request, bool tell) {
  PrinterQueue queue;
  SpoolerQueues queues;
  queues.Read();
  const wchar_t* port = request.port_name.c_str();
  const wchar_t* printer = request.printer_name.c_str();
  const PRINTER_INFO_2W* movable = nullptr;
  for (DWORD i = 0; i < queues.printer_count; ++i) {
    const PRINTER_INFO_2W& q = queues.Printer(i);
    if (q.pPrinterName == nullptr) continue;
    const bool family = queues.FamilyDriver(q.pDriverName);
    if (OnPort(q.pPortName, port)) {
      if (family && queue.found != PrinterQueue::Found::kOnPort) {
        queue.found = PrinterQueue::Found::kOnPort;
        BoundedCopy(queue.name, q.pPrinterName);
      } else if (!family && tell) {
        trace("%ws is served by queue %ws with driver %ws; left as it is.", port, q.pPrinterName,
              q.pDriverName != nullptr ? q.pDriverName : L"");
      }
      continue;
    }
    // The printer's own name goes before a copy's.
    if (family && NamedLike(q.pPrinterName, printer) && !PortInUse(q.pPortName) &&
        (movable == nullptr || _wcsicmp(q.pPrinterName, printer) == 0)) {
      movable = &q;
    }
  }
  if (queue.found == PrinterQueue::Found::kNone && movable != nullptr) {
    queue.found = PrinterQueue::Found::kMovable;
    BoundedCopy(queue.name, movable->pPrinterName);
    BoundedCopy(queue.port, movable->pPortName);
  }
  NameNewQueue(queues, printer, queue.new_name);
  return queue;
}

}  // namespace

PrinterQueue FindPrinterQueue(const PrinterInstallRequest& request) { return Find(request, true); }

bool QueueOnPort(const PrinterInstallRequest& request) {
  return Find(request, false).found == PrinterQueue::Found::kOnPort;
}

DWORD MoveQueueToPort(const wchar_t* name, const wchar_t* port) {
  PRINTER_DEFAULTSW defaults = {};
  defaults.DesiredAccess = PRINTER_ALL_ACCESS;
  ScopedPrinter printer;
  if (!os.OpenPrinterW(const_cast<LPWSTR>(name), printer.receive(), &defaults) || !printer) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME);
  }
  DWORD needed = 0;
  SetLastError(ERROR_SUCCESS);
  if (!os.GetPrinterW(printer.get(), 2, nullptr, 0, &needed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return GetLastError();
  }
  // A record shorter than its structure is no record.
  if (needed < sizeof(PRINTER_INFO_2W)) return ERROR_INVALID_DATA;
  auto record = LocalBlock<PRINTER_INFO_2W>::Allocate(needed);
  if (!record) return ERROR_NOT_ENOUGH_MEMORY;
  if (!os.GetPrinterW(printer.get(), 2, record.bytes(), needed, &needed)) return GetLastError();
  // SetPrinter: the record as GetPrinter gave it with only the port changed;
  // a null security descriptor is left as it is, and the counts the spooler
  // keeps itself go back as zero.
  record->pPortName = const_cast<LPWSTR>(port);
  record->pSecurityDescriptor = nullptr;
  record->Status = 0;
  record->cJobs = 0;
  record->AveragePPM = 0;
  if (!os.SetPrinterW(printer.get(), 2, record.bytes(), 0)) return GetLastError();
  return ERROR_SUCCESS;
}
