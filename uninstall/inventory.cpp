#include "uninstall/inventory.h"

#include <cwchar>

#include "common/package.h"
#include "common/scoped_handle.h"
#include "common/spooler_listing.h"
#include "common/trace.h"
#include "platform/os.h"

DriverPackageNode* PackageList = nullptr;
DRIVER_INFO_8W* DriverInfoArray = nullptr;
PRINTER_INFO_2W* PrinterInfoArray = nullptr;

namespace {

constexpr size_t kSubkeyNameCapacity = 260;

// Answers that count as "nothing there" rather than as a refusal.
bool NothingThere(LSTATUS status) { return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND; }

bool Present(const wchar_t* text) { return text != nullptr && text[0] != L'\0'; }

enum class RecordRead { kRead, kSkipped, kRefused };

// Reads one package record's "DriverStorePath"; the path is left empty when
// the record cannot be opened or read, so that no earlier text is taken for
// this record's. A record without the value, or with one of another type or
// size, is passed over; one the registry refuses makes the inventory fail.
RecordRead ReadStorePath(HKEY packages, const wchar_t* name, WideText<kStorePathCapacity>& path) {
  path = {};
  ScopedKey record;
  const LSTATUS opened = os.RegOpenKeyW(packages, name, record.receive());
  if (opened != ERROR_SUCCESS) return NothingThere(opened) ? RecordRead::kSkipped : RecordRead::kRefused;
  DWORD type = 0;
  DWORD size = sizeof(path.chars);
  const LSTATUS read = os.RegGetValueW(record.get(), nullptr, L"DriverStorePath", RRF_RT_REG_MULTI_SZ, &type,
                                       path.data(), &size);
  if (read != ERROR_SUCCESS) {
    path = {};
    return NothingThere(read) || read == ERROR_UNSUPPORTED_TYPE || read == ERROR_MORE_DATA ? RecordRead::kSkipped
                                                                                            : RecordRead::kRefused;
  }
  path.chars[kStorePathCapacity - 1] = L'\0';
  return RecordRead::kRead;
}

// Fills `array` with one of the spooler's lists and keeps it for the rest of
// the process; `count` is the number of records in it. False when the list
// could not be read.
template <typename Record, typename Enumerate>
bool FillEnumerationArray(Record*& array, DWORD& count, Enumerate enumerate) {
  LocalBlock<Record> records;
  const bool read = ListSpoolerRecords(enumerate, records, count);
  array = records.take();
  return read;
}

}  // namespace

namespace {

// SetupAPI's reading of the INF's [Version] section; false where it gives none.
bool QueryDriverVer(const wchar_t* inf_path, WideText<kVersionTextCapacity>& version) {
  DWORD required = 0;
  os.SetupGetInfInformationW(inf_path, INFINFO_INF_NAME_IS_ABSOLUTE, nullptr, 0, &required);
  if (required == 0) return false;
  auto info = LocalBlock<SP_INF_INFORMATION>::Allocate(required);
  if (!info || !os.SetupGetInfInformationW(inf_path, INFINFO_INF_NAME_IS_ABSOLUTE, info.get(), required, nullptr)) {
    return false;
  }
  return os.SetupQueryInfVersionInformationW(info.get(), 0, L"DriverVer", version.data(), kVersionTextCapacity,
                                             nullptr) != FALSE;
}

}  // namespace

void ReadInfVersion(const wchar_t* inf_path, WideText<kVersionTextCapacity>& version) {
  version.clear();
  // Where SetupAPI cannot say (Wine's version query is a stub), the entry
  // as the INF's text has it.
  if (!QueryDriverVer(inf_path, version) || version.chars[0] == L'\0') {
    version.clear();
    os.GetPrivateProfileStringW(L"Version", L"DriverVer", L"", version.data(), kVersionTextCapacity, inf_path);
  }
  version.chars[kVersionTextCapacity - 1] = L'\0';
}

bool InventoryReadFailed = false;

void ForgetInventory() {
  InventoryReadFailed = false;
  PackageList = nullptr;
  DriverInfoArray = nullptr;
  PrinterInfoArray = nullptr;
}

void AddPackageNode(const DriverPackageNode& pattern) {
  auto* node = LocalAllocZeroed<DriverPackageNode>();
  if (node == nullptr) return;
  *node = pattern;
  node->next = PackageList;
  PackageList = node;
}

namespace {

// The spooler's records of the driver packages of the machine's architecture.
LSTATUS OpenPackageRecords(const PackageArchitecture& architecture, ScopedKey& packages) {
  WideText<kStorePathCapacity> path = {};
  if (!BoundedFormat(path,
                     L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\"
                     L"PackageInstallation\\%ws\\DriverPackages",
                     architecture.environment)) {
    return ERROR_FILENAME_EXCED_RANGE;
  }
  return os.RegOpenKeyW(HKEY_LOCAL_MACHINE, path.c_str(), packages.receive());
}

}  // namespace

bool DriverStoreAvailable() {
  const PackageArchitecture* architecture = NativeArchitecture();
  ScopedKey packages;
  return architecture != nullptr && OpenPackageRecords(*architecture, packages) == ERROR_SUCCESS;
}

bool ScanDriverPackages() {
  // A machine the package is not built for has no records of it.
  const PackageArchitecture* architecture = NativeArchitecture();
  if (architecture == nullptr) return true;

  WideText<kStorePathCapacity> path = {};
  ScopedKey packages;
  const LSTATUS opened = OpenPackageRecords(*architecture, packages);
  if (opened != ERROR_SUCCESS) return NothingThere(opened);
  bool complete = true;
  WideText<kSubkeyNameCapacity> name = {};
  for (DWORD index = 0;; ++index) {
    const LSTATUS listed = os.RegEnumKeyW(packages.get(), index, name.data(), kSubkeyNameCapacity);
    if (listed != ERROR_SUCCESS) {
      if (listed != ERROR_NO_MORE_ITEMS) complete = false;
      break;
    }
    name.chars[kSubkeyNameCapacity - 1] = L'\0';
    const RecordRead read = ReadStorePath(packages.get(), name.c_str(), path);
    if (read == RecordRead::kRefused) complete = false;
    if (read != RecordRead::kRead) continue;
    if (std::wcsstr(path.c_str(), kPackageInfName) == nullptr) continue;

    DriverPackageNode pattern = {};
    BoundedCopy(pattern.store_path, path.c_str());
    if (const wchar_t* slash = std::wcsrchr(path.c_str(), L'\\')) {
      BoundedCopy(pattern.inf_name, slash + 1);
    }
    ReadInfVersion(path.c_str(), pattern.version);
    AddPackageNode(pattern);
  }
  return complete;
}

int AttachDriverToPackages(DRIVER_INFO_8W* entry) {
  const bool has_inf = Present(entry->pszInfPath);
  if (PackageList == nullptr && has_inf) PackageList = LocalAllocZeroed<DriverPackageNode>();

  int attached = 0;
  for (DriverPackageNode* package = PackageList; package != nullptr; package = package->next) {
    if (package->store_path.empty() && has_inf) {
      BoundedCopy(package->store_path, entry->pszInfPath);
    }
    auto* driver = LocalAllocZeroed<PrinterDriverNode>();
    if (driver == nullptr) continue;
    driver->next = package->drivers;
    package->drivers = driver;
    driver->driver_info = LocalAllocZeroed<DRIVER_INFO_8W>();
    if (driver->driver_info == nullptr) continue;
    *driver->driver_info = *entry;
    ++package->driver_count;
    ++attached;
  }
  return attached;
}

bool ScanPrinterDrivers() {
  DWORD count = 0;
  const bool read = FillEnumerationArray<DRIVER_INFO_8W>(
      DriverInfoArray, count, [](BYTE* buffer, DWORD capacity, DWORD* needed, DWORD* returned) {
        return os.EnumPrinterDriversW(nullptr, const_cast<LPWSTR>(MachineEnvironment()), 8, buffer, capacity, needed,
                                      returned);
      });
  for (DWORD i = 0; i < count; ++i) {
    DRIVER_INFO_8W* entry = &DriverInfoArray[i];
    if (entry->pDriverPath == nullptr || std::wcsstr(entry->pDriverPath, kDriverDll) == nullptr) {
      continue;
    }
    if (AttachDriverToPackages(entry) != 0) continue;
    // Nowhere to attach it: a package-less node of its own.
    DriverPackageNode pattern = {};
    pattern.drivers = LocalAllocZeroed<PrinterDriverNode>();
    if (pattern.drivers == nullptr) continue;
    pattern.drivers->driver_info = entry;
    pattern.driver_count = 1;
    AddPackageNode(pattern);
  }
  return read;
}

void AttachQueueToDrivers(PRINTER_INFO_2W* entry) {
  if (entry->pDriverName == nullptr) return;
  for (DriverPackageNode* package = PackageList; package != nullptr; package = package->next) {
    for (PrinterDriverNode* driver = package->drivers; driver != nullptr; driver = driver->next) {
      if (driver->driver_info == nullptr || driver->driver_info->pName == nullptr) continue;
      if (std::wcscmp(driver->driver_info->pName, entry->pDriverName) != 0) continue;
      auto* queue = LocalAllocZeroed<PrinterQueueNode>();
      if (queue == nullptr) continue;
      queue->queue_info = entry;
      queue->next = driver->queues;
      driver->queues = queue;
      ++driver->queue_count;
    }
  }
}

bool ScanPrintQueues() {
  DWORD count = 0;
  const bool read = FillEnumerationArray<PRINTER_INFO_2W>(
      PrinterInfoArray, count, [](BYTE* buffer, DWORD capacity, DWORD* needed, DWORD* returned) {
        return os.EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer, capacity, needed, returned);
      });
  for (DWORD i = 0; i < count; ++i) AttachQueueToDrivers(&PrinterInfoArray[i]);
  return read;
}

bool TakeInventory() {
  // All three run whatever the others gave.
  bool read = ScanDriverPackages();
  read = ScanPrinterDrivers() && read;
  read = ScanPrintQueues() && read;
  if (!read) {
    InventoryReadFailed = true;
    trace("The inventory could not be read whole.");
  }
  return read;
}
