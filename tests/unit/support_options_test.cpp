// What support staff and fleets need: the log, a bounded search, staging
// without a printer, the protected print mode, and the help.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/entry.h"
#include "common/run_options.h"
#include "discovery/usb_printers.h"
#include "resources/resource_ids.h"
#include "tests/built_program.h"
#include "tests/unit/install_support.h"

namespace {

class SupportOptions : public PackageTest {
 protected:
  void SetUp() override { machine.module_path = package + L"setup.exe"; }
  void TearDown() override {
    FreeUsbPrinterList(&UsbPrinterList);
    PackageTest::TearDown();
  }
  std::string ReadLog(const std::wstring& path) const { return ReadRealFile(path); }
  void PolicyValue(DWORD value) {
    machine.registry.SetDword(L"Software\\Policies\\Microsoft\\Windows NT\\Printers\\WPP",
                              L"WindowsProtectedPrintGroupPolicyState", value);
  }
  int Run(const std::wstring& line) { return RunProgram(nullptr, (L"setup.exe " + line).c_str()); }
};

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// --- the log ---------------------------------------------------------------------

// An administrator who met 1618 finds in the log which lock another run holds.
TEST_F(SupportOptions, ASecondInstanceLogsWhichLockIsHeldAndItsExitCode) {
  const std::wstring log = machine.temp_directory + L"setup.log";
  machine.HoldMutex(kSingleInstanceMutexName);
  EXPECT_EQ(Run(L"/silence /log=" + log), ERROR_INSTALL_ALREADY_RUNNING);
  std::string text = ReadLog(log);
  EXPECT_NE(text.find("Another instance runs in this session.\r\n"), std::string::npos);
  EXPECT_NE(text.rfind("Exit code: 1618\r\n"), std::string::npos);

  DeleteFileW(log.c_str());
  machine.mutexes.clear();
  machine.HoldPrivateMutex(kLockNamespace, L"S-1-5-32-544", kMachineMutexName);  // the Administrators' boundary
  EXPECT_EQ(Run(L"/silence /log=" + log), ERROR_INSTALL_ALREADY_RUNNING);
  text = ReadLog(log);
  EXPECT_NE(text.find("Another instance runs in another session of this machine.\r\n"), std::string::npos);
  EXPECT_NE(text.rfind("Exit code: 1618\r\n"), std::string::npos);
  machine.EndProcess();  // a second instance leaves its handle for Windows to close
}

TEST_F(SupportOptions, TheLogOpensWithTheRunsFactsStampsEachLineAndEndsWithTheExitCode) {
  const std::wstring log = machine.temp_directory + L"setup.log";
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  machine.spooler.printers.push_back({L"Vellumor VL-K20", L"USB001", L"Vellumor VL-K20"});
  EXPECT_EQ(Run(L"/silence /log=" + log), 0);
  const std::string text = ReadLog(log);
  for (const char* opening : {"Tapstart installer 1.1.0\r\n", "Command line: setup.exe /silence /log=", "Windows: ",
                              "Native architecture: 9 (Windows x64)\r\n", "Account: SYSTEM\r\n", "Silent run: yes\r\n"}) {
    EXPECT_NE(text.find(opening), std::string::npos) << opening;
  }
  EXPECT_NE(text.find(" Installing printer model: Vellumor VL-K20, name: Vellumor VL-K20, port: USB001\r\n"),
            std::string::npos);
  EXPECT_EQ(text.compare(0, 24, "2026-12-08 09:30:00.000 "), 0) << "a local time stamp to the millisecond";
  EXPECT_NE(text.rfind("Exit code: 0\r\n"), std::string::npos);
  EXPECT_EQ(text.rfind("Exit code: 0\r\n"), text.size() - 14) << "the last line";
}

TEST_F(SupportOptions, EveryLineNamesItsProcessAndEndsWithItsLineEndEvenWhenCut) {
  const std::wstring log = machine.temp_directory + L"setup.log";
  const std::wstring long_option = L"/" + std::wstring(1000, L'x');  // the command line's log line is cut
  EXPECT_EQ(Run(L"/silence /timeout=150 /log=" + log + L" " + long_option), ERROR_TIMEOUT);
  const std::string text = ReadLog(log);
  const std::string tag = "[" + std::to_string(GetCurrentProcessId()) + " program] ";
  size_t lines = 0;
  for (size_t at = 0; at < text.size(); ++lines) {
    const size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "a line without its end";
    EXPECT_NE(text.substr(at, end - at).find(tag), std::string::npos) << text.substr(at, end - at);
    at = end + 2;
  }
  EXPECT_EQ(Count(text, "xxxx [line cut]\r\n"), 1u);
  // A silent search says once a minute that it still waits.
  EXPECT_EQ(Count(text, "Still searching for a supported printer, "), 2u);
  EXPECT_GT(lines, 8u);
}

TEST_F(SupportOptions, AnHResultExitCodeIsLoggedAsTheProcessReturnsIt) {
  const std::wstring log = machine.temp_directory + L"setup.log";
  machine.Fail(Seam::UploadPrinterDriverPackageW, static_cast<DWORD>(E_NOTIMPL));
  EXPECT_EQ(static_cast<unsigned>(Run(L"/stage /log=" + log)), 0x80004001u);
  EXPECT_NE(ReadLog(log).rfind("Exit code: 2147500033 (0x80004001)\r\n"), std::string::npos);
}

TEST_F(SupportOptions, AGivenLogIsAppendedTo) {
  const std::wstring log = machine.temp_directory + L"setup.log";
  WriteRealFile(log, "an earlier run\r\n");
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  machine.spooler.printers.push_back({L"Vellumor VL-K20", L"USB001", L"Vellumor VL-K20"});
  Run(L"/silence /log=" + log);
  const std::string text = ReadLog(log);
  EXPECT_EQ(text.compare(0, 16, "an earlier run\r\n"), 0);
  EXPECT_EQ(Count(text, "Exit code: "), 1u);
}

TEST_F(SupportOptions, ALogThatCannotBeOpenedEndsTheRunWith1622BeforeAnyChange) {
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  EXPECT_EQ(Run(L"/silence /log=" + machine.temp_directory + L"missing\\setup.log"), ERROR_INSTALL_LOG_FAILURE);
  for (Seam fn : {Seam::SetupDiGetClassDevsW, Seam::RegOpenKeyW, Seam::OpenPrinterW, Seam::CopyFileW}) {
    EXPECT_EQ(machine.CallCount(fn), 0) << fn;
  }
  EXPECT_TRUE(machine.message_boxes.empty());
}

// Run as SYSTEM, the default log goes where only SYSTEM can reach, and always
// into a new file: one made in advance under its name is never written.
TEST_F(SupportOptions, TheDefaultLogIsANewFileInTheSystemsOwnTemporaryFolder) {
  machine.system_account = true;
  const std::wstring taken = machine.system_temp_directory + L"Tapstart 2026-12-08 09-30-00.log";
  WriteRealFile(taken, "made by someone");
  EXPECT_EQ(Run(L"/stage /log"), 0);
  EXPECT_EQ(ReadLog(taken), "made by someone");
  EXPECT_NE(ReadLog(machine.system_temp_directory + L"Tapstart 2026-12-08 09-30-00 (2).log").find("Exit code: 0"),
            std::string::npos);
}

// Where Windows cannot tell the temporary folder, or no log can be made in
// it, none is made anywhere else: 1622 after one try.
TEST_F(SupportOptions, NoDefaultLogWithoutATemporaryFolderOfItsOwn) {
  machine.FailNth(Seam::GetTempPath2W, ERROR_ENVVAR_NOT_FOUND, 1);
  EXPECT_EQ(Run(L"/stage /log"), ERROR_INSTALL_LOG_FAILURE);
  EXPECT_EQ(machine.CallCount(Seam::GetTempPathW), 0) << "not a folder others may write to";
  machine.FailNth(Seam::CreateFileW, ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(Run(L"/stage /log"), ERROR_INSTALL_LOG_FAILURE);
  EXPECT_EQ(machine.CallCount(Seam::CreateFileW), 1);
}

// A "/log=" file that is a link, has a second name, or lies behind a junction
// would write someone else's file: the run ends with 1622 and changes nothing.
TEST_F(SupportOptions, AGivenLogThatIsNotAPlainFileOfItsOwnEndsTheRunWith1622) {
  const std::wstring other = machine.temp_directory + L"other.txt";
  WriteRealFile(other, "someone else's");
  machine.MakeLink(machine.temp_directory + L"link.log", other);
  ASSERT_TRUE(CreateHardLinkW((machine.temp_directory + L"second.log").c_str(), other.c_str(), nullptr));
  CreateDirectoryW((machine.temp_directory + L"real").c_str(), nullptr);
  machine.MakeLink(machine.temp_directory + L"junction", machine.temp_directory + L"real");
  for (const wchar_t* log : {L"link.log", L"second.log", L"junction\\setup.log"}) {
    EXPECT_EQ(Run(L"/stage /log=" + machine.temp_directory + log), ERROR_INSTALL_LOG_FAILURE) << Narrow(log);
  }
  EXPECT_EQ(ReadLog(other), "someone else's");
  EXPECT_EQ(ReadLog(machine.temp_directory + L"real\\setup.log").find("Exit code"), std::string::npos);
  EXPECT_EQ(machine.CallCount(Seam::UploadPrinterDriverPackageW), 0);
}

// An elevated run from a folder others may change says so once, naming it:
// here one made under C:\\, where Authenticated Users may modify it.
TEST_F(SupportOptions, AFolderOthersMayChangeIsNamedOnceInTheLog) {
  const std::wstring own = package.substr(0, package.size() - 1);
  const std::wstring owner = L"S-1-5-21-1004336348-1177238915-682003330-1001";
  auto warnings = [&](const wchar_t* log) {
    const std::wstring path = machine.temp_directory + log;
    EXPECT_EQ(Run(L"/stage /log=" + path), 0);
    return Count(ReadLog(path), Narrow(L"The folder " + own + L" can be changed by accounts other than administrators"));
  };
  machine.folder_security[own] = L"O:" + owner + L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;AU)";
  EXPECT_EQ(warnings(L"1.log"), 1u);
  machine.elevated = false;
  EXPECT_EQ(warnings(L"2.log"), 0u) << "not elevated";
  machine.elevated = true;
  // Only SYSTEM, Administrators, TrustedInstaller and the owner may change it;
  // what the others may do applies to what the folder holds, not to itself.
  machine.folder_security[own] = L"O:" + owner + L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + owner +
                                 L")(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
                                 L"(A;OICI;0x1200a9;;;BU)(A;OICIIO;GA;;;CO)(A;OICIIO;0x1301bf;;;AU)";
  EXPECT_EQ(warnings(L"3.log"), 0u);
  // A NULL DACL lets everyone do everything.
  machine.folder_security[own] = L"O:" + owner + L"D:NO_ACCESS_CONTROL";
  EXPECT_EQ(warnings(L"4.log"), 1u);
  machine.Fail(Seam::GetNamedSecurityInfoW, ERROR_ACCESS_DENIED);
  EXPECT_EQ(warnings(L"5.log"), 0u) << "a DACL that cannot be read says nothing";
}

// --- a bounded search, and staging ------------------------------------------------

TEST_F(SupportOptions, ASilentSearchWithATimeoutEndsWith1460) {
  EXPECT_EQ(Run(L"/silence /timeout=3"), ERROR_TIMEOUT);
  EXPECT_EQ(machine.clock_ms, 3000u);
  EXPECT_EQ(machine.CallCount(Seam::UploadPrinterDriverPackageW), 0) << "nothing installed";
}

TEST_F(SupportOptions, StagingMakesOneUploadAndNothingElse) {
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  EXPECT_EQ(Run(L"/stage"), 0);
  EXPECT_EQ(machine.CallCount(Seam::UploadPrinterDriverPackageW), 1);
  for (Seam fn : {Seam::SetupDiGetClassDevsW, Seam::AddPrinterDriverW, Seam::AddPrinterW, Seam::AddMonitorW,
                  Seam::RegOpenKeyW, Seam::UpdateDriverForPlugAndPlayDevicesW}) {
    EXPECT_EQ(machine.CallCount(fn), 0) << fn;
  }
  EXPECT_EQ(machine.spooler.packages.size(), 1u) << "the package is in the driver store";
}

TEST_F(SupportOptions, ATimeoutWithStagingStagesOnceTheTimeIsUp) {
  EXPECT_EQ(Run(L"/silence /timeout=3 /stage"), 0);
  EXPECT_EQ(machine.CallCount(Seam::UploadPrinterDriverPackageW), 1);
  EXPECT_EQ(machine.clock_ms, 3000u);
}

// --- Windows protected print mode -----------------------------------------------------

TEST_F(SupportOptions, ProtectedPrintModeBlocksTheInstallBeforeAnythingIsTouched) {
  PolicyValue(1);
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  machine.calls.clear();
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_PRINTER_DRIVER_BLOCKED);
  const int policy = machine.FirstCall(Seam::RegGetValueW);
  ASSERT_GE(policy, 0);
  for (size_t i = static_cast<size_t>(policy) + 1; i < machine.calls.size(); ++i) {
    const Seam fn = machine.calls[i].function;
    EXPECT_TRUE(fn == Seam::OutputDebugStringW || fn == Seam::ReleaseMutex || fn == Seam::CloseHandle ||
                fn == Seam::ClosePrivateNamespace || fn == Seam::LocalFree)
        << "after the policy read: " << fn;
  }
  EXPECT_EQ(TraceStarting(L"Windows protected print mode is on").size(), 1u);
}

TEST_F(SupportOptions, ProtectedPrintModeOffMissingOrOfAnotherTypeLetsTheInstallGoOn) {
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  EXPECT_EQ(Run(L"/silence"), 0) << "missing";
  ResetMachine();
  PolicyValue(0);
  EXPECT_EQ(Run(L"/silence"), 0) << "0";
  ResetMachine();
  machine.registry.SetString(L"Software\\Policies\\Microsoft\\Windows NT\\Printers\\WPP",
                             L"WindowsProtectedPrintGroupPolicyState", L"1");
  EXPECT_EQ(Run(L"/silence"), 0) << "a string";
  EXPECT_NE(machine.spooler.FindPrinter(L"Vellumor VL-K20"), nullptr);
}

// --- the help -----------------------------------------------------------------------

TEST_F(SupportOptions, HelpShowsTheOptionsUnlessTheRunIsSilent) {
  HMODULE program = LoadBuiltProgram();
  ScopedModuleInstance resources(program);
  EXPECT_EQ(RunProgram(program, L"setup.exe /?"), 0);
  ASSERT_EQ(machine.message_boxes.size(), 1u);
  EXPECT_NE(machine.message_boxes[0].text.find(L"/timeout=<seconds>"), std::wstring::npos);
  EXPECT_EQ(RunProgram(program, L"setup.exe /? /silence"), 0);
  EXPECT_EQ(machine.message_boxes.size(), 1u) << "nothing shown silently";
  FreeLibrary(program);
}

}  // namespace
