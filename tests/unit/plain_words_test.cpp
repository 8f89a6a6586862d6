// The command line read as people type it, a mistyped silent run ended at
// once, and a spooler that we stopped never left stopped behind a success.
#include <gtest/gtest.h>

#include "app/entry.h"
#include "common/run_options.h"
#include "common/service_control.h"
#include "discovery/usb_printers.h"
#include "install/install_worker.h"
#include "tests/fakes/fake_machine.h"
#include "tests/unit/install_support.h"

namespace {

// --- the command line -----------------------------------------------------------

TEST(PlainCommandLine, AQuotedLogWithBlanksFirst) {
  FakeMachine machine;
  const CommandLineOptions o = ParseCommandLine(L"\"C:\\Drivers\\setup.exe\" /log=\"C:\\My Logs\\a.log\" /silence");
  EXPECT_TRUE(o.log);
  EXPECT_STREQ(o.log_path.c_str(), L"C:\\My Logs\\a.log");
  EXPECT_TRUE(o.silent);
}

TEST(PlainCommandLine, AFolderTypedWithItsBackslashBeforeTheQuote) {
  FakeMachine machine;
  CommandLineOptions o = ParseCommandLine(L"setup.exe -u \"C:\\a b\\\" /silence");
  EXPECT_STREQ(o.directory.c_str(), L"C:\\a b\\");
  EXPECT_TRUE(o.silent) << "not swallowed by the folder";
  // The relaunch form, with no closing quote, still gives the folder whole.
  o = ParseCommandLine(L"\"C:\\Temp\\uni3F2.tmp\" /silence /after=7 -u \"C:\\Drivers\\Setup\\");
  EXPECT_STREQ(o.directory.c_str(), L"C:\\Drivers\\Setup\\");
  EXPECT_EQ(o.after, 7u);
  EXPECT_EQ(machine.LiveBlocks(), 0);
}

TEST(PlainCommandLine, EveryMistypedSilentOptionEndsTheRunWith1639AndTouchesNothing) {
  const std::wstring too_long = L"setup.exe /silence -u C:\\" + std::wstring(300, L'd');
  for (const std::wstring line : {std::wstring(L"setup.exe /silence -u"), std::wstring(L"setup.exe /silence -u \"\""),
                                  too_long, std::wstring(L"setup.exe /silence /timeout=abc"),
                                  std::wstring(L"setup.exe /silence /timeout="), std::wstring(L"setup.exe /s /timeout=0"),
                                  std::wstring(L"setup.exe /q /timeout=86401"), std::wstring(L"setup.exe /silence /log=")}) {
    FakeMachine machine;
    AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
    EXPECT_EQ(RunProgram(nullptr, line.c_str()), ERROR_INVALID_COMMAND_LINE) << testing::PrintToString(line);
    for (Seam touched : {Seam::SetupDiGetClassDevsW, Seam::EnumPrinterDriversW, Seam::CopyFileW, Seam::CreateProcessW,
                         Seam::OpenSCManagerW, Seam::SHFileOperationW}) {
      EXPECT_EQ(machine.CallCount(touched), 0) << touched << " for " << testing::PrintToString(line);
    }
    EXPECT_EQ(machine.TraceLines().back().rfind(L"Mistyped option: ", 0), 0u);
  }
  // A whole number of seconds up to a day is no mistake.
  FakeMachine machine;
  EXPECT_EQ(ParseCommandLine(L"setup.exe /timeout=86400").timeout_seconds, 86400u);
  EXPECT_TRUE(ParseCommandLine(L"setup.exe /timeout=86400").mistyped.empty());
}

// --- the spooler ------------------------------------------------------------------

class SpoolerStart : public PackageTest {
 protected:
  FakeService& spooler() { return machine.services.Spooler(); }
};

TEST_F(SpoolerStart, AStopStillPendingWhenTheWaitsRunOutIsStartedOnceItHasStopped) {
  spooler().stop_pending_polls = 4500;  // 45 s, longer than both stop waits
  RestartSpooler();
  EXPECT_EQ(spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(SpoolerLeftStopped, static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(SpoolerStart, StartsThatAreRefusedAreSentAgainUntilItRuns) {
  machine.FailTimes(Seam::StartServiceW, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, 2);
  RestartSpooler();
  EXPECT_EQ(spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(machine.CallCount(Seam::StartServiceW), 3);
  EXPECT_EQ(SpoolerLeftStopped, static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(SpoolerStart, ASpoolerLeftStoppedIsTheInstallsFailureWithItsCode) {
  machine.module_path = package + L"setup.exe";
  AddUsbPrinter(machine, L"Vellumor VL-K410A_", 1);
  WriteRealFile(SystemFile(L"vlm6mon.dll"), "older");  // replaced with the spooler stopped
  machine.Fail(Seam::StartServiceW, ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  FreeUsbPrinterList(&UsbPrinterList);
}

TEST_F(SpoolerStart, ASpoolerFoundStoppedIsStartedBeforeTheInstall) {
  machine.module_path = package + L"setup.exe";
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  spooler().state = SERVICE_STOPPED;
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), 0);
  EXPECT_LT(machine.FirstCall(Seam::StartServiceW), machine.FirstCall(Seam::SetupDiGetClassDevsW));
  EXPECT_EQ(spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(TraceStarting(L"The spooler is not running (state 1); starting it first.").size(), 1u);
  FreeUsbPrinterList(&UsbPrinterList);

  // A disabled one is a clear failure, and nothing is tried.
  ResetMachine();
  spooler().state = SERVICE_STOPPED;
  machine.Fail(Seam::StartServiceW, ERROR_SERVICE_DISABLED);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_SERVICE_DISABLED);
  EXPECT_EQ(machine.CallCount(Seam::StartServiceW), 1) << "a disabled service is not asked again";
  EXPECT_EQ(machine.CallCount(Seam::SetupDiGetClassDevsW), 0);
}

}  // namespace
