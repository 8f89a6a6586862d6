// The fake machine's print spooler.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/win.h"

// A print job of a queue: printing (JOB_STATUS_PRINTING) or waiting (0).
// A job that was printing when the spooler stopped prints again from its
// first page once it runs again; `restarts` counts those.
struct FakeJob {
  DWORD id = 1;
  DWORD status = JOB_STATUS_PRINTING;
  int restarts = 0;
};

struct FakePrinter {
  std::wstring name;
  std::wstring port;
  std::wstring driver;
  std::wstring print_processor = L"winprint";
  std::wstring datatype = L"RAW";
  DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
  std::vector<FakeJob> jobs;
  // What a person sets in the queue's properties: its comment, its share
  // name (with PRINTER_ATTRIBUTE_SHARED), its location, and its settings (the
  // bytes of its DEVMODEW; empty: none).
  std::wstring comment;
  std::wstring share_name;
  std::wstring location;
  std::vector<BYTE> devmode;
};

struct FakeDriver {
  std::wstring name;
  std::wstring environment = L"Windows x64";
  std::wstring driver_path;
  std::wstring config_file;
  std::wstring data_file;
  std::vector<std::wstring> dependent_files;
  std::wstring monitor;
  std::wstring inf_path;  // empty: the record has no INF path
  std::wstring manufacturer;
  DWORDLONG version = 0;
  FILETIME date = {};
  DWORD cversion = 3;
  std::wstring default_datatype;
  std::wstring provider;
  std::wstring print_processor;
};

struct FakeMonitor {
  std::wstring name;
  std::wstring dll;
  std::wstring environment = L"Windows x64";
};

// A queue that Windows makes by itself (Plug and Play) once the virtual clock
// reaches `at_ms`.
struct FakePendingPrinter {
  FakePrinter printer;
  uint64_t at_ms;
};

struct FakeSpooler {
  DWORD upload_flags = 0;  // the flags of the last package upload
  std::wstring upload_environment;  // the environment it named (empty: none)
  DWORD driver_add_flags = 0;  // the flags of the last AddPrinterDriverExW
  DWORD package_install_flags = 0;  // the flags of the last InstallPrinterDriverFromPackageW
  std::vector<FakePrinter> printers;
  std::vector<FakePendingPrinter> pending_printers;
  std::vector<FakeDriver> drivers;
  std::vector<FakeMonitor> monitors;
  std::vector<std::wstring> ports = {L"COM1:", L"LPT1:", L"FILE:"};
  std::vector<std::wstring> packages;  // INF paths in the driver store
  // The printer-driver directory of each environment the machine has
  // ("Windows x64", "Windows ARM64"): real folders, set by the machine;
  // `driver_directory` is the x64 one.
  std::map<std::wstring, std::wstring> driver_directories;
  std::wstring driver_directory;
  std::wstring DirectoryOf(const std::wstring& environment) const;  // empty: an unknown environment
  std::map<HANDLE, std::wstring> open_printers;  // handle -> printer name
  std::map<HANDLE, DWORD> open_access;           // handle -> the access it was opened with
  DWORD last_open_access = 0;  // DesiredAccess of the last OpenPrinterW
  int security_writes = 0;     // SetPrinterW calls at level 2 that carried a security descriptor
  // Removal: drivers the spooler holds loaded (deletion fails with
  // ERROR_PRINTER_DRIVER_IN_USE, as for a driver that a printer uses), and
  // driver-store packages that devices still use.
  std::vector<std::wstring> drivers_in_use;
  std::vector<std::wstring> packages_in_use;
  std::map<std::wstring, std::wstring> inf_versions;  // INF path -> its DriverVer

  FakePrinter* FindPrinter(const std::wstring& name);  // without regard to case
  FakeDriver* FindDriver(const std::wstring& name);    // without regard to case
  FakeDriver* FindDriver(const std::wstring& name, const std::wstring& environment);
  FakeMonitor* FindMonitor(const std::wstring& name);  // without regard to case
  // Moves the pending queues that are due by `now_ms` into `printers`.
  void Settle(uint64_t now_ms);
};
