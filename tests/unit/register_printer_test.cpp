// Registering monitor, driver and queue with the spooler directly.
#include <gtest/gtest.h>

#include "install/register_printer.h"
#include "tests/unit/install_support.h"

namespace {

using RegisterPrinter = PackageTest;

constexpr uint8_t kNoMonitor = 0x01;

TEST(DriverBuild, VersionAndDateOfTheBuild) {
  EXPECT_EQ(GetDriverVersion(), 0x07E9000800160001ull);
  const FILETIME date = GetDriverDate();
  EXPECT_EQ(date.dwHighDateTime, 0x01DC12F7u);
  EXPECT_EQ(date.dwLowDateTime, 0xB3FA0000u);
}

TEST_F(RegisterPrinter, AMonitorModelGetsEveryPiece) {
  const PrinterInstallRequest request = Request();
  EXPECT_EQ(RegisterPrinterManually(&request), 1);

  for (const wchar_t* file : {L"vlm6drv6.dll", L"vlm6drv6ui.dll", L"vlm6drv6.dat", L"vlm6mon.dll"}) {
    EXPECT_NE(ReadRealFile(DriverFile(file)), "<none>") << Narrow(file);
  }
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "amd64 vlm6mon.dll");
  ASSERT_EQ(machine.spooler.monitors.size(), 1u);
  EXPECT_EQ(machine.spooler.monitors[0].name, L"Vellumor Language Monitor V6");
  EXPECT_EQ(machine.spooler.monitors[0].dll, L"vlm6mon.dll");

  const FakeDriver* driver = machine.spooler.FindDriver(L"Vellumor VL-K20");
  ASSERT_NE(driver, nullptr);
  EXPECT_EQ(driver->cversion, 3u);
  EXPECT_EQ(driver->environment, L"Windows x64") << "the local machine's own";
  EXPECT_EQ(driver->driver_path, L"vlm6drv6.dll");
  EXPECT_EQ(driver->data_file, L"vlm6drv6.dat");
  EXPECT_EQ(driver->config_file, L"vlm6drv6ui.dll");
  EXPECT_EQ(driver->dependent_files, (std::vector<std::wstring>{L"vlm6mon.dll"}))
      << "one name, closed by an empty string";
  EXPECT_EQ(driver->monitor, L"Vellumor Language Monitor V6");
  EXPECT_EQ(driver->default_datatype, L"RAW");
  EXPECT_EQ(driver->provider, L"Vellumor.V6");
  EXPECT_EQ(driver->print_processor, L"winprint");
  EXPECT_EQ(driver->version, 0x07E9000800160001ull);
  EXPECT_EQ(driver->date.dwHighDateTime, 0x01DC12F7u);
  EXPECT_TRUE(driver->inf_path.empty());

  const FakePrinter* queue = machine.spooler.FindPrinter(L"Vellumor VL-K20");
  ASSERT_NE(queue, nullptr);
  EXPECT_EQ(queue->port, L"USB001");
  EXPECT_EQ(queue->driver, L"Vellumor VL-K20");
  EXPECT_EQ(queue->print_processor, L"WinPrint");
  EXPECT_EQ(queue->datatype, L"RAW");
  EXPECT_EQ(queue->attributes, static_cast<DWORD>(PRINTER_ATTRIBUTE_LOCAL)) << "local, not shared";
  EXPECT_TRUE(machine.sleeps.empty())
      << "no spooler restart for a first monitor, driver and queue seen at the first check";
  EXPECT_TRUE(TraceStarting(L"Add").empty() && TraceStarting(L"Install").empty());
}

TEST_F(RegisterPrinter, TheDependentFilesListEndsInTwoNuls) {
  const PrinterInstallRequest request = Request();
  std::vector<wchar_t> sent;
  static std::vector<wchar_t>* capture;
  static decltype(os.AddPrinterDriverW) real;
  capture = &sent;
  real = os.AddPrinterDriverW;
  os.AddPrinterDriverW = [](LPWSTR server, DWORD level, LPBYTE info) -> BOOL {
    const wchar_t* list = reinterpret_cast<DRIVER_INFO_8W*>(info)->pDependentFiles;
    capture->assign(list, list + 512);
    return real(server, level, info);
  };
  EXPECT_EQ(RegisterPrinterManually(&request), 1);
  ASSERT_EQ(sent.size(), 512u);
  EXPECT_EQ(std::wstring(sent.data()), L"vlm6mon.dll");
  EXPECT_EQ(std::count(sent.begin() + 11, sent.end(), L'\0'), 512 - 11) << "nothing but NULs after the name";
}

TEST_F(RegisterPrinter, AModelWithoutMonitorLeavesTheMonitorOut) {
  const PrinterInstallRequest request = Request(L"Vellumor VL-K20", kNoMonitor);
  EXPECT_EQ(RegisterPrinterManually(&request), 1);
  EXPECT_EQ(machine.CallCount(Seam::AddMonitorW), 0);
  EXPECT_EQ(ReadRealFile(DriverFile(L"vlm6mon.dll")), "<none>");
  EXPECT_EQ(machine.CallCount(Seam::OpenSCManagerW), 0) << "no spooler restart";
  const FakeDriver* driver = machine.spooler.FindDriver(L"Vellumor VL-K20");
  ASSERT_NE(driver, nullptr);
  EXPECT_TRUE(driver->dependent_files.empty());
  EXPECT_TRUE(driver->monitor.empty());
}

TEST_F(RegisterPrinter, ASecondRunPassesWhatIsThere) {
  const PrinterInstallRequest request = Request();
  ASSERT_EQ(RegisterPrinterManually(&request), 1);
  machine.calls.clear();
  machine.debug_writes.clear();
  EXPECT_EQ(RegisterPrinterManually(&request), 1);
  EXPECT_EQ(machine.CallCount(Seam::AddMonitorW), 1);
  EXPECT_TRUE(TraceStarting(L"InstallPrinterLanguageMonitor").empty()) << "3006 is success, silently";
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterDriverW), 0);
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterW), 0);
  EXPECT_EQ(TraceStarting(L"The printer "),
            (std::vector<std::wstring>{L"The printer Vellumor VL-K20 is already added."}));
  EXPECT_EQ(TraceStarting(L"CopyFile file:").size(), 5u) << "the files are staged again";
}

// AddPrinter: "The caller must have the SeLoadDriverPrivilege" - also where
// nothing before the queue needed it (no monitor, the driver listed already).
TEST_F(RegisterPrinter, TheQueueIsAddedWithTheLoadDriverPrivilege) {
  FakeDriver listed;
  listed.name = L"Vellumor VL-K20";
  machine.spooler.drivers.push_back(listed);
  const PrinterInstallRequest request = Request(L"Vellumor VL-K20", 0x01);
  EXPECT_EQ(RegisterPrinterManually(&request), 1);
  EXPECT_NE(machine.spooler.FindPrinter(L"Vellumor VL-K20"), nullptr);
}

TEST_F(RegisterPrinter, ADriverListedInOtherLetterCaseIsAddedAgain) {
  FakeDriver other;
  other.name = L"VELLUMOR VL-K20";
  machine.spooler.drivers.push_back(other);
  const PrinterInstallRequest request = Request();
  EXPECT_EQ(RegisterPrinterManually(&request), 1);
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterDriverW), 1);
}

TEST_F(RegisterPrinter, AFailedDataFileCopySkipsTheDriverButNotTheQueue) {
  machine.FailNth(Seam::CopyFileW, ERROR_ACCESS_DENIED, 3);  // driver, config, data file
  const PrinterInstallRequest request = Request();
  EXPECT_EQ(RegisterPrinterManually(&request), 0);
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterDriverW), 0);
  EXPECT_EQ(machine.CallCount(Seam::EnumPrinterDriversW), 0) << "no driver looked up";
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterW), 1);
  EXPECT_EQ(TraceStarting(L"AddPrinter "),
            (std::vector<std::wstring>{L"AddPrinter Vellumor VL-K20 failed, errcode:1797."}));
  EXPECT_EQ(machine.CallCount(Seam::OpenPrinterW), 1 + 5) << "the presence check, then five checks";
  EXPECT_EQ(std::count(machine.sleeps.begin(), machine.sleeps.end(), 1000u), 5);
}

TEST_F(RegisterPrinter, AQueueThatAppearsMeanwhileCountsAsSuccess) {
  machine.FailNth(Seam::CopyFileW, ERROR_ACCESS_DENIED, 3);
  machine.spooler.pending_printers.push_back({{L"Vellumor VL-K20", L"USB001", L"Vellumor VL-K20"}, 2000});
  machine.clock_ms = 0;
  const PrinterInstallRequest request = Request();
  EXPECT_EQ(RegisterPrinterManually(&request), 1);
  EXPECT_EQ(std::count(machine.sleeps.begin(), machine.sleeps.end(), 1000u), 2);
}

TEST_F(RegisterPrinter, AQueueNotSeenAfterAGoodRegistrationStillSucceeds) {
  machine.Fail(Seam::OpenPrinterW, ERROR_ACCESS_DENIED);  // exists, but not with full access
  const PrinterInstallRequest request = Request();
  EXPECT_EQ(RegisterPrinterManually(&request), 1);
  EXPECT_EQ(std::count(machine.sleeps.begin(), machine.sleeps.end(), 1000u), 5);
}

TEST_F(RegisterPrinter, DriverFailures) {
  const PrinterInstallRequest request = Request();
  machine.FailNth(Seam::AddPrinterDriverW, ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(RegisterPrinterManually(&request), 0);
  EXPECT_EQ(TraceStarting(L"AddPrinterDriver failed, errcode:5.").size(), 1u);
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterW), 0);

  // Accepted but never listed: five checks, no trace, no queue.
  machine.calls.clear();
  machine.sleeps.clear();
  machine.Fail(Seam::EnumPrinterDriversW, RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(RegisterPrinterManually(&request), 0);
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterDriverW), 1);
  EXPECT_EQ(std::count(machine.sleeps.begin(), machine.sleeps.end(), 1000u), 5);
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterW), 0);
  EXPECT_EQ(TraceStarting(L"AddPrinterDriver").size(), 1u);
}

TEST_F(RegisterPrinter, AFailedMonitorRegistrationCountsAsAStagingFailure) {
  machine.FailNth(Seam::AddMonitorW, ERROR_ACCESS_DENIED, 1);
  const PrinterInstallRequest request = Request();
  EXPECT_EQ(RegisterPrinterManually(&request), 0);
  EXPECT_EQ(TraceStarting(L"InstallPrinterLanguageMonitor failed, errcode:5.").size(), 1u);
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterDriverW), 0);
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterW), 1);
}

TEST_F(RegisterPrinter, DriverListing) {
  FakeDriver d;
  d.name = L"Vellumor VL-K21";
  machine.spooler.drivers.push_back(d);
  d.name = L"Vellumor VL-K20";
  machine.spooler.drivers.push_back(d);
  d.name = L"Vellumor VL-K29";
  d.environment = L"Windows NT x86";
  machine.spooler.drivers.push_back(d);
  EXPECT_EQ(IsPrinterDriverListed(L"Vellumor VL-K20"), 1);
  EXPECT_EQ(IsPrinterDriverListed(L"Vellumor VL-K2"), 0) << "whole names only";
  EXPECT_EQ(IsPrinterDriverListed(L"Vellumor VL-K29"), 0) << "the local environment only";
  machine.FailNth(Seam::LocalAlloc, ERROR_NOT_ENOUGH_MEMORY, 1);
  EXPECT_EQ(IsPrinterDriverListed(L"Vellumor VL-K20"), 0);
  machine.spooler.drivers.clear();
  machine.calls.clear();
  EXPECT_EQ(IsPrinterDriverListed(L"Vellumor VL-K20"), 0);
  EXPECT_EQ(machine.CallCount(Seam::LocalAlloc), 0) << "nothing listed, nothing allocated";
}

// A fault at any call of the sequence leaves no handle, no buffer and no
// stopped spooler behind, and a success always has a queue or a driver.
TEST_F(RegisterPrinter, AFaultAtEveryCallLeavesNothingOpen) {
  const PrinterInstallRequest request = Request();
  FailEachCall([&] { return RegisterPrinterManually(&request); },
               [&](int result) {
                 if (result == 0) return;
                 EXPECT_TRUE(machine.spooler.FindPrinter(L"Vellumor VL-K20") != nullptr ||
                             machine.spooler.FindDriver(L"Vellumor VL-K20") != nullptr);
               });
}

}  // namespace

namespace {

// A queue that the spooler refused to make is not installed.
TEST_F(RegisterPrinter, AQueueTheSpoolerRefusedFailsWithItsError) {
  machine.Fail(Seam::AddPrinterW, ERROR_ACCESS_DENIED);
  const PrinterInstallRequest request = Request();
  DWORD error = 0;
  EXPECT_EQ(RegisterPrinterManually(&request, &error), 0);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// The cause shown is the first failed step's, not what later calls leave.
TEST_F(RegisterPrinter, TheFirstFailedStepIsTheCause) {
  DeleteFileW((package + L"amd64\\vlm6drv6ui.dll").c_str());
  const PrinterInstallRequest request = Request();
  DWORD error = 0;
  EXPECT_EQ(RegisterPrinterManually(&request, &error), 0);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "not AddPrinterW's unknown driver";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace

namespace {

TEST_F(RegisterPrinter, AnEmulatedRunOnArm64RegistersForWindowsArm64) {
  machine.native_machine = IMAGE_FILE_MACHINE_ARM64;  // GetNativeSystemInfo still says AMD64
  const PrinterInstallRequest request = Request();
  EXPECT_EQ(RegisterPrinterManually(&request), 1);
  const FakeDriver* driver = machine.spooler.FindDriver(L"Vellumor VL-K20");
  ASSERT_NE(driver, nullptr);
  EXPECT_EQ(driver->environment, L"Windows ARM64");
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "arm64 vlm6mon.dll");
}

// AddMonitor and AddPrinterDriverEx require SeLoadDriverPrivilege of their
// caller: it is enabled first, and an account without it is told in the trace.
TEST_F(RegisterPrinter, RegistrationEnablesTheLoadDriverPrivilegeFirst) {
  const PrinterInstallRequest request = Request();
  EXPECT_EQ(RegisterPrinterManually(&request), 1);
  EXPECT_LT(machine.FirstCall(Seam::AdjustTokenPrivileges), machine.FirstCall(Seam::AddMonitorW));

  ResetMachine();
  machine.holds_load_driver_privilege = false;
  machine.load_driver_privilege_on = false;
  DWORD cause = ERROR_SUCCESS;
  EXPECT_EQ(RegisterPrinterManually(&request, &cause), 0);
  EXPECT_EQ(cause, static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
  EXPECT_FALSE(TraceStarting(L"The account does not hold SeLoadDriverPrivilege").empty());
}

}  // namespace
