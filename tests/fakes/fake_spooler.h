// The fake machine's print spooler.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/win.h"

struct FakePrinter {
  std::wstring name;
  std::wstring port;
  std::wstring driver;
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
};

struct FakeMonitor {
  std::wstring name;
  std::wstring dll;
};

struct FakeSpooler {
  std::vector<FakePrinter> printers;
  std::vector<FakeDriver> drivers;
  std::vector<FakeMonitor> monitors;
  std::vector<std::wstring> ports = {L"COM1:", L"LPT1:", L"FILE:"};
  std::vector<std::wstring> packages;  // INF paths in the driver store
  std::wstring driver_directory;       // a real folder; set by the machine
  std::map<HANDLE, std::wstring> open_printers;  // handle -> printer name

  FakePrinter* FindPrinter(const std::wstring& name);  // without regard to case
  FakeDriver* FindDriver(const std::wstring& name);    // without regard to case
};
