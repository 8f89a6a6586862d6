// spoolerlist.exe: one line per print queue, printer driver and print
// monitor of the local spooler, in UTF-8:
//   queue "NAME" port "PORT" driver "DRIVER"
//   driver "NAME" environment "ENV" file "DRIVER DLL"
//   monitor "NAME" dll "DLL"
// Exit code 1 when the spooler could not be asked.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

#include "../console.h"

namespace {

std::wstring Q(const wchar_t* text) { return L"\"" + std::wstring(text ? text : L"") + L"\""; }

// Runs an enumeration twice: once for the size, once into a buffer of it.
template <typename Enumerate>
bool Records(std::vector<BYTE>& buffer, DWORD* count, Enumerate enumerate) {
  DWORD needed = 0;
  *count = 0;
  enumerate(nullptr, 0, &needed, count);
  buffer.assign(needed + 1, 0);
  return enumerate(buffer.data(), needed, &needed, count) != FALSE;
}

}  // namespace

int wmain() {
  std::vector<BYTE> buffer;
  DWORD count = 0;
  bool ok = true;

  ok &= Records(buffer, &count, [](BYTE* b, DWORD n, DWORD* need, DWORD* c) {
    return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, b, n, need, c);
  });
  const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    Print(L"queue " + Q(printers[i].pPrinterName) + L" port " + Q(printers[i].pPortName) +
          L" driver " + Q(printers[i].pDriverName));
  }

  ok &= Records(buffer, &count, [](BYTE* b, DWORD n, DWORD* need, DWORD* c) {
    return EnumPrinterDriversW(nullptr, nullptr, 3, b, n, need, c);
  });
  const auto* drivers = reinterpret_cast<const DRIVER_INFO_3W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    Print(L"driver " + Q(drivers[i].pName) + L" environment " + Q(drivers[i].pEnvironment) +
          L" file " + Q(drivers[i].pDriverPath) + L" monitor " + Q(drivers[i].pMonitorName));
  }

  ok &= Records(buffer, &count, [](BYTE* b, DWORD n, DWORD* need, DWORD* c) {
    return EnumMonitorsW(nullptr, 2, b, n, need, c);
  });
  const auto* monitors = reinterpret_cast<const MONITOR_INFO_2W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    Print(L"monitor " + Q(monitors[i].pName) + L" dll " + Q(monitors[i].pDLLName));
  }
  return ok ? 0 : 1;
}
