// The install engine against Wine's real spooler and service manager, with
// the test driver package at C:\Tapstart. The checks run in order in one
// program: the first installs, the later ones find what it left.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/package.h"
#include "common/string_table.h"
#include "install/install_printer.h"
#include "install/register_printer.h"
#include "platform/os.h"

namespace {

constexpr wchar_t kInstallDirectory[] = L"C:\\Tapstart\\";
constexpr wchar_t kInf[] = L"C:\\Tapstart\\vlm6v6.inf";
constexpr wchar_t kName[] = L"Vellumor VL-K20";
constexpr wchar_t kMonitor[] = L"Vellumor Language Monitor V6";

// What the engine did, seen through the seam while the real calls run.
struct Observed {
  std::vector<std::wstring> trace;
  int stops = 0;
  int starts = 0;
  std::vector<DWORD> spooler_state_at_system_copy;
  std::vector<DWORD> add_monitor_errors;
};
Observed seen;

DWORD SpoolerState() {
  DWORD state = 0;
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceW(manager, L"Spooler", SERVICE_QUERY_STATUS) : nullptr;
  SERVICE_STATUS status = {};
  if (service && QueryServiceStatus(service, &status)) state = status.dwCurrentState;
  if (service) CloseServiceHandle(service);
  if (manager) CloseServiceHandle(manager);
  return state;
}

std::wstring SystemDirectory() {
  wchar_t folder[MAX_PATH] = {};
  GetSystemDirectoryW(folder, MAX_PATH);
  return folder;
}

std::wstring DriverDirectory() {
  wchar_t folder[MAX_PATH] = {};
  DWORD needed = 0;
  GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(folder), sizeof(folder), &needed);
  return folder;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Puts observing wrappers around a few real calls.
void Observe() {
  seen = Observed{};
  os = RealOs();
  os.OutputDebugStringW = [](LPCWSTR text) {
    if (std::wstring(text) != L"\n") seen.trace.push_back(text);
    OutputDebugStringW(text);
  };
  os.ControlService = [](SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    if (control == SERVICE_CONTROL_STOP) ++seen.stops;
    return ControlService(service, control, status);
  };
  os.StartServiceW = [](SC_HANDLE service, DWORD count, LPCWSTR* arguments) {
    ++seen.starts;
    return StartServiceW(service, count, arguments);
  };
  os.CopyFileW = [](LPCWSTR from, LPCWSTR to, BOOL fail_if_exists) {
    if (std::wstring(to) == SystemDirectory() + L"\\vlm6mon.dll") {
      seen.spooler_state_at_system_copy.push_back(SpoolerState());
    }
    return CopyFileW(from, to, fail_if_exists);
  };
  os.AddMonitorW = [](LPWSTR server, DWORD level, LPBYTE info) {
    const BOOL added = AddMonitorW(server, level, info);
    seen.add_monitor_errors.push_back(added ? 0 : GetLastError());
    if (!added) SetLastError(seen.add_monitor_errors.back());
    return added;
  };
  BoundedCopy(InstallDirectory, kInstallDirectory);
}

PrinterInstallRequest K20Request() {
  PrinterInstallRequest request = {};
  BoundedCopy(request.driver_name, kName);
  BoundedCopy(request.printer_name, kName);
  BoundedCopy(request.port_name, L"USB001");
  BoundedCopy(request.hardware_id, L"usbprint\\vellumor vl-k20d5a5");
  request.flags = 0x11;
  return request;
}

bool HasLine(const std::wstring& line) {
  for (const std::wstring& l : seen.trace) {
    if (l == line) return true;
  }
  return false;
}

// In a fresh prefix with the spooler running and no USB device attached.
TEST(InstallEngineOnWine, InstallsVellumorVlK20OnUsb001) {
  ASSERT_EQ(SpoolerState(), static_cast<DWORD>(SERVICE_RUNNING)) << "the scenario starts the spooler";
  ASSERT_FALSE(PortExists(L"USB001")) << "Wine lists no USB ports";
  Observe();
  PrinterInstallRequest request = K20Request();
  EXPECT_NE(InstallPrinter(&request, kInf), 0);

  EXPECT_TRUE(HasLine(L"DoUploadDriverPackage, , code:2147500033 (0x80004001).")) << "Wine answers E_NOTIMPL";
  const std::wstring drivers = DriverDirectory();
  for (const wchar_t* file : {L"vlm6drv6.dll", L"vlm6drv6ui.dll", L"vlm6drv6.dat", L"vlm6mon.dll"}) {
    EXPECT_TRUE(Exists(drivers + L"\\" + file)) << "staged: " << std::string(file, file + wcslen(file));
  }
  EXPECT_TRUE(HasLine(L"Remove file:" + drivers + L"\\vlm6drv6.dll, 0, errcode:2."));
  EXPECT_TRUE(HasLine(L"CopyFile file:C:\\Tapstart\\\\amd64\\vlm6drv6.dll to " + drivers + L"\\vlm6drv6.dll, 1, errcode:0."));
  EXPECT_TRUE(Exists(SystemDirectory() + L"\\vlm6mon.dll"));
  EXPECT_EQ(seen.spooler_state_at_system_copy, std::vector<DWORD>{SERVICE_RUNNING})
      << "a first monitor DLL goes into the system directory without a stop: nothing holds it yet";
  EXPECT_EQ(seen.add_monitor_errors, std::vector<DWORD>{0}) << "the monitor was registered";
  EXPECT_EQ(seen.stops, 1) << "one restart because USB001 is not listed";
  EXPECT_EQ(seen.starts, 1);
  EXPECT_EQ(SpoolerState(), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(IsPrinterDriverListed(kName), 1);
  for (const std::wstring& line : seen.trace) {
    EXPECT_EQ(line.find(L"failed"), std::wstring::npos) << std::string(line.begin(), line.end());
  }
  os = RealOs();
}

TEST(InstallEngineOnWine, TheQueueIsOnUsb001) {
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(kName), &printer, nullptr));
  DWORD needed = 0;
  GetPrinterW(printer, 2, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed + 1);
  ASSERT_TRUE(GetPrinterW(printer, 2, buffer.data(), needed, &needed));
  const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  EXPECT_STREQ(info->pPortName, L"USB001");
  EXPECT_STREQ(info->pDriverName, kName);
  ClosePrinter(printer);

  DWORD count = 0;
  EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count);
  buffer.assign(needed + 1, 0);
  ASSERT_TRUE(EnumMonitorsW(nullptr, 2, buffer.data(), needed, &needed, &count));
  const auto* monitors = reinterpret_cast<const MONITOR_INFO_2W*>(buffer.data());
  bool listed = false;
  for (DWORD i = 0; i < count; ++i) listed = listed || std::wstring(monitors[i].pName) == kMonitor;
  EXPECT_TRUE(listed) << "the language monitor is registered";
}

TEST(InstallEngineOnWine, ASecondInstallFindsTheQueue) {
  Observe();
  PrinterInstallRequest request = K20Request();
  EXPECT_EQ(InstallPrinter(&request, kInf), 3);
  EXPECT_TRUE(seen.trace.empty()) << "nothing done";
  EXPECT_EQ(seen.stops, 0);
  os = RealOs();
}

TEST(InstallEngineOnWine, RegisteringAgainPassesTheMonitorSilently) {
  Observe();
  PrinterInstallRequest request = K20Request();
  EXPECT_NE(RegisterPrinterManually(&request), 0);
  EXPECT_EQ(seen.add_monitor_errors, std::vector<DWORD>{ERROR_PRINT_MONITOR_ALREADY_INSTALLED});
  EXPECT_FALSE(HasLine(L"InstallPrinterLanguageMonitor failed, errcode:3006."));
  EXPECT_TRUE(HasLine(L"The printer Vellumor VL-K20 is already added."));
  EXPECT_EQ(SpoolerState(), static_cast<DWORD>(SERVICE_RUNNING));
  os = RealOs();
}

}  // namespace
