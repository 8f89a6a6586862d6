// The fake machine's print spooler.
#pragma once

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
  std::wstring monitor;
  std::wstring inf_path;
  std::wstring manufacturer;
  DWORDLONG version = 0;
  FILETIME date = {};
};

struct FakeSpooler {
  std::vector<FakePrinter> printers;
  std::vector<FakeDriver> drivers;
  std::vector<std::wstring> monitors;
  std::vector<std::wstring> ports = {L"COM1:", L"LPT1:", L"FILE:"};
  std::vector<std::wstring> packages;  // INF paths in the driver store
  std::wstring driver_directory;       // a real folder; set by the machine
};
