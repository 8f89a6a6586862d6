// Silent runs as a deployment tool sees them: no window, no question, and an
// exit code with Windows Installer's meanings, one test per code.
#include <gtest/gtest.h>

#include <fstream>

#include "app/entry.h"
#include "common/run_options.h"
#include "discovery/usb_printers.h"
#include "install/install_printer.h"
#include "install/register_printer.h"
#include "tests/unit/install_support.h"
#include "tests/unit/inventory_fixture.h"

namespace {

// --- the install ---------------------------------------------------------------

class SilentInstall : public PackageTest {
 protected:
  void SetUp() override { machine.module_path = package + L"setup.exe"; }
  void TearDown() override {
    FreeUsbPrinterList(&UsbPrinterList);
    // The probe's inventory is kept for the rest of the process.
    if (!family_installed_) PackageTest::TearDown();
  }
  bool family_installed_ = false;
  void FamilyInstalled() {
    family_installed_ = true;
    FakeDriver driver;
    driver.name = L"Vellumor VL-K20";
    driver.driver_path = L"C:\\spool\\vlm6drv6.dll";
    driver.version = GetDriverVersion();  // this package's own
    machine.spooler.drivers.push_back(driver);
  }
};

TEST_F(SilentInstall, TheFamilyInstalledAlreadyExits0AndStartsNothing) {
  FamilyInstalled();
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), 0);
  EXPECT_TRUE(machine.processes.empty()) << "no uninstaller, no window";
  EXPECT_EQ(machine.CallCount(Seam::UploadPrinterDriverPackageW), 0) << "no printer lacks its queue";
}

// An earlier run ended before it made the queue: the family counts as
// installed, but the attached printer still gets its queue.
TEST_F(SilentInstall, APrinterWithoutItsQueueIsInstalledThoughTheFamilyIs) {
  FamilyInstalled();
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), 0);
  EXPECT_NE(machine.spooler.FindPrinter(L"Vellumor VL-K20"), nullptr);
}

TEST_F(SilentInstall, AReplacementLeftForTheNextStartExits3010) {
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  machine.Fail(Seam::UploadPrinterDriverPackageW, static_cast<DWORD>(E_NOTIMPL));  // the package's folder, as on Wine
  WriteRealFile(DriverFile(L"vlm6drv6.dll"), "installed");       // an older driver DLL,
  machine.FailNth(Seam::DeleteFileW, ERROR_SHARING_VIOLATION, 1);  // held open:
  machine.FailNth(Seam::CopyFileW, ERROR_SHARING_VIOLATION, 1);    // neither deleted nor replaced
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_SUCCESS_REBOOT_REQUIRED);
  EXPECT_EQ(machine.delayed_moves.size(), 1u);
}

TEST_F(SilentInstall, PlugAndPlayAskingForARestartExits3010) {
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  machine.pnp.devices.push_back({L"usbprint\\vellumor vl-k20d5a5", L"Vellumor VL-K20", L"USB001", 0});
  machine.pnp.wants_restart = true;
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_SUCCESS_REBOOT_REQUIRED);
}

// UpdateDriverForPlugAndPlayDevices fails with ERROR_NO_SUCH_DEVINST when no
// device has the hardware ID; its result is traced, and the fallback goes on.
TEST_F(SilentInstall, TheBindingsResultIsTraced) {
  PrinterInstallRequest request = Request();
  EXPECT_NE(InstallPrinter(&request, InfPath().c_str()), 0);
  EXPECT_EQ(TraceStarting(L"Binding usbprint\\vellumor vl-k20d5a5 to the package: 0, errcode:3758096907 (no device has that hardware ID)").size(), 1u);
  EXPECT_EQ(machine.pnp.restart_prompts, 0);
}

TEST_F(SilentInstall, BindingAndUploadAskNobodyInASilentRunOnly) {
  machine.pnp.devices.push_back({L"usbprint\\vellumor vl-k20d5a5", L"Vellumor VL-K20", L"USB001", 0});
  PrinterInstallRequest request = Request();
  InstallPrinter(&request, InfPath().c_str());
  EXPECT_EQ(machine.pnp.binding_flags, 0u) << "never over a driver that ranks better";
  EXPECT_TRUE(machine.pnp.reboot_asked) << "the dialog asks for a restart at the end, not Windows in the middle";
  EXPECT_EQ(machine.spooler.upload_flags, 2u);

  ResetMachine();
  machine.pnp.devices.push_back({L"usbprint\\vellumor vl-k20d5a5", L"Vellumor VL-K20", L"USB001", 0});
  SilentRun = true;
  request = Request();
  InstallPrinter(&request, InfPath().c_str());
  EXPECT_EQ(machine.pnp.binding_flags, static_cast<DWORD>(INSTALLFLAG_NONINTERACTIVE));
  EXPECT_TRUE(machine.pnp.reboot_asked) << "Windows shows no restart prompt";
  EXPECT_EQ(machine.spooler.upload_flags, 2u | 1u) << "UPDP_SILENT_UPLOAD";
}

TEST(SilentEntry, AnotherInstanceRunningExits1618) {
  FakeMachine machine;  // the second instance's handle is left for Windows
  machine.HoldMutex(kSingleInstanceMutexName);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_INSTALL_ALREADY_RUNNING);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe "), 0) << "a person sees the copy that runs";
}

// Deployment tools run the program as SYSTEM in session 0, where a name
// without prefix is a name of the global namespace.
TEST_F(SilentInstall, ARunAsSystemInSession0IsNotItsOwnSecondInstance) {
  machine.session_id = 0;
  machine.interactive_station = false;
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), 0);
  EXPECT_NE(machine.spooler.FindPrinter(L"Vellumor VL-K20"), nullptr);
}

// Names any account can take first - the global namespace's, which is the
// session lock's in session 0, the machine lock's of earlier versions, and a
// namespace of the lock's name with a boundary of its own - do not stop a run
// as SYSTEM.
TEST_F(SilentInstall, LocksAnyAccountCanTakeDoNotStopARunAsSystem) {
  machine.session_id = 0;
  machine.interactive_station = false;
  machine.HoldMutex(L"Global\\TAPSTARTINSTALLERFORPRINTERDRIVER");
  machine.HoldMutex(L"Global\\TAPSTARTINSTALLERFORPRINTERDRIVER.Machine");
  machine.HoldPrivateMutex(kLockNamespace, L"S-1-5-21-1004336348-1177238915-682003330-1002", kMachineMutexName);
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), 0);
  EXPECT_NE(machine.spooler.FindPrinter(L"Vellumor VL-K20"), nullptr);
  // No other account may open the lock's namespace ("Object Namespaces").
  EXPECT_EQ(machine.namespaces.back().sddl, L"D:(A;;GA;;;SY)(A;;GA;;;BA)");
}

TEST(SilentEntry, ARunWhileAnotherHoldsItsLocksExits1618InAndAcrossSession0) {
  for (DWORD first : {0u, 1u}) {
    for (DWORD second : {0u, 1u}) {
      FakeMachine machine;
      machine.session_id = first;
      SingleInstanceLock running = TakeSingleInstanceLock();
      ASSERT_FALSE(running.second_instance) << first;
      machine.session_id = second;
      EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_INSTALL_ALREADY_RUNNING) << first << second;
      EXPECT_EQ(machine.CallCount(Seam::SetupDiGetClassDevsW), 0);
    }
  }
}

TEST_F(SilentInstall, WhereNobodyCanSeeAWindowTheRunIsSilent) {
  machine.interactive_station = false;
  FamilyInstalled();
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe "), 0);
  EXPECT_TRUE(machine.processes.empty()) << "as with /silence: no uninstall dialog";
  EXPECT_EQ(TraceStarting(L"No one can see this run's windows").size(), 1u);
}

TEST(CommandLine, TheSilentOptionsOfDeploymentTools) {
  FakeMachine machine;
  for (const wchar_t* option : {L"/silence", L"/SILENT", L"/VerySilent", L"/quiet", L"/Q", L"/s"}) {
    EXPECT_TRUE(ParseCommandLine((L"setup.exe " + std::wstring(option)).c_str()).silent) << std::wstring(option).size();
  }
  EXPECT_FALSE(ParseCommandLine(L"setup.exe /silentx").silent);
}

// A spooler an earlier run left stopped answers nothing: it is started before
// the probe asks it, which then finds the family.
TEST_F(SilentInstall, AStoppedSpoolerIsStartedBeforeTheProbe) {
  FamilyInstalled();
  machine.services.Spooler().state = SERVICE_STOPPED;
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence /timeout=5"), 0);
  EXPECT_LT(machine.FirstCall(Seam::StartServiceW), machine.FirstCall(Seam::EnumPrinterDriversW));
  EXPECT_EQ(TraceStarting(L"The driver is installed already").size(), 1u);
  EXPECT_TRUE(machine.sleeps.empty()) << "no search";
}

// A driver listing the spooler refused tells nothing: a silent run ends with
// its error, changing nothing; a person's run opens the installer.
TEST_F(SilentInstall, ADriverListingRefusedEndsTheSilentRunWithItsError) {
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  machine.Fail(Seam::EnumPrinterDriversW, ERROR_ACCESS_DENIED);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence /timeout=5"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(machine.CallCount(Seam::UploadPrinterDriverPackageW), 0);
  EXPECT_EQ(SelectRunMode(ParseCommandLine(L"setup.exe")), RunMode::kInstallDialog);
}

// --- the uninstall ---------------------------------------------------------------

class SilentUninstallRun : public InstallFolderTest {
 public:
  ScopedInstallDirectory directory_;

  void InstallOne() {
    AddDriver(L"Vellumor VL-K20");
    AddQueue(L"Vellumor VL-K20", L"Vellumor VL-K20");
  }
  // setup.exe -u <folder> /silence, as an administrator types it.
  int Run() { return RunProgram(nullptr, (L"setup.exe /silence -u \"" + folder).c_str()); }
};

TEST_F(SilentUninstallRun, NothingToRemoveExits0AndTheFolderGoesWithoutAQuestion) {
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(Exists(folder));
  EXPECT_TRUE(machine.message_boxes.empty());
  EXPECT_EQ(machine.shell_flags & (FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI),
            FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI);
}

TEST_F(SilentUninstallRun, RemovedExits0) {
  InstallOne();
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(machine.spooler.printers.empty());
  EXPECT_FALSE(Exists(folder));
}

TEST_F(SilentUninstallRun, AMonitorFileInUseExits3010) {
  machine.Fail(Seam::DeleteFileW, ERROR_SHARING_VIOLATION);
  EXPECT_EQ(Run(), ERROR_SUCCESS_REBOOT_REQUIRED);
  ASSERT_EQ(machine.delayed_moves.size(), 1u);
  EXPECT_EQ(machine.delayed_moves[0].first, monitor);
}

TEST_F(SilentUninstallRun, AFailedDriverDeletionExitsWithItsErrorAndKeepsTheFolder) {
  InstallOne();
  machine.Fail(Seam::DeletePrinterDriverExW, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Run(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(Exists(folder));
}

TEST_F(SilentUninstallRun, AnInventoryThatCannotBeReadExits1603) {
  machine.Fail(Seam::EnumPrinterDriversW, RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(Run(), ERROR_INSTALL_FAILURE);
  EXPECT_TRUE(Exists(folder));
}

TEST_F(SilentUninstallRun, AnotherInstanceRunningExits1618) {
  machine.HoldMutex(kSingleInstanceMutexName);
  EXPECT_EQ(Run(), ERROR_INSTALL_ALREADY_RUNNING);
}

// --- the hand-over to the temporary copy -------------------------------------------

TEST_F(SilentUninstallRun, TheFirstProcessStartsItsCopySilentlyAndExitsWithItsResult) {
  const std::wstring program = machine.temp_directory + L"unins000.exe";
  MakeFile(program);
  machine.module_path = program;
  machine.child_exit_code = ERROR_INVALID_PARAMETER;

  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_INVALID_PARAMETER);

  ASSERT_EQ(machine.processes.size(), 1u);
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(machine.processes[0].command_line.c_str(), &count);  // the real splitter
  ASSERT_EQ(count, 5);
  EXPECT_STREQ(args[1], L"/silence") << "before -u: what follows -u is the folder";
  EXPECT_EQ(std::wstring(args[2]), L"/after=" + std::to_wstring(GetCurrentProcessId()));
  EXPECT_STREQ(args[3], L"-u");
  EXPECT_EQ(std::wstring(args[4]), machine.temp_directory);
  LocalFree(args);
  EXPECT_EQ(machine.waits, std::vector<std::string>{"process"}) << "it waited for its copy";
}

// The copies run in another folder: a log named by a relative path reaches
// them as the whole path of the same file.
TEST_F(SilentUninstallRun, TheCopyWritesToTheSameLogWhenItsPathWasRelative) {
  machine.module_path = folder + L"unins000.exe";
  wchar_t before[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, before);
  SetCurrentDirectoryW(machine.temp_directory.c_str());
  RunProgram(nullptr, L"unins000.exe /silence /log=setup.log");
  SetCurrentDirectoryW(before);
  ASSERT_EQ(machine.processes.size(), 1u);
  EXPECT_NE(machine.processes[0].command_line.find(L"/log=\"" + machine.temp_directory + L"setup.log\""),
            std::wstring::npos);
}

TEST_F(SilentUninstallRun, TheCopyDeletesTheFolderOnlyAfterTheFirstProcessEnded) {
  machine.module_path = machine.temp_directory + L"uni1A.tmp";
  EXPECT_EQ(RunProgram(nullptr, (L"setup.exe /silence /after=4242 -u \"" + folder).c_str()), 0);
  EXPECT_TRUE(Exists(folder)) << "the first process still runs from it";
  ASSERT_EQ(machine.processes.size(), 1u);
  const std::wstring line = machine.processes[0].command_line;
  const size_t tail = line.find(L"\" ") + 2;
  EXPECT_EQ(line.substr(tail), L"/silence /finish /after=4242 /result=0 -u \"" + folder);

  machine.calls.clear();
  EXPECT_EQ(RunProgram(nullptr, line.c_str()), 0);
  const int opened = machine.FirstCall(Seam::OpenProcess);
  const int waited = machine.FirstCall(Seam::WaitForSingleObject);
  const int deleted = machine.FirstCall(Seam::SHFileOperationW);
  EXPECT_TRUE(opened >= 0 && opened < waited && waited < deleted);
  EXPECT_EQ(machine.CallCount(Seam::OpenProcess, L"4242"), 1);
  EXPECT_FALSE(Exists(folder));
}

// --- the copies: where they run, and what a failed or early one leaves ------------

TEST_F(SilentUninstallRun, TheCopiesRunInTheTemporaryFolderAndAFailedCopyIsTheExitCode) {
  machine.module_path = folder + L"\\unins000.exe";
  MakeFile(machine.module_path);
  EXPECT_EQ(RunProgram(nullptr, L"unins000.exe /silence"), 0);
  ASSERT_EQ(machine.processes.size(), 1u);
  EXPECT_EQ(machine.processes[0].current_directory.rfind(machine.temp_directory + L"Tapstart-", 0), 0u)
      << "not inside the folder it deletes";

  machine.processes.clear();
  machine.FailNth(Seam::CreateProcessW, ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(RunProgram(nullptr, L"unins000.exe /silence"), ERROR_ACCESS_DENIED) << "a copy that cannot be started";
  machine.Fail(Seam::CopyFileW, ERROR_DISK_FULL);
  EXPECT_EQ(RunProgram(nullptr, L"unins000.exe /silence"), ERROR_DISK_FULL);
  EXPECT_TRUE(machine.processes.empty());
  EXPECT_EQ(machine.TraceLines().back(), L"The uninstaller copy could not be made: CopyFileW failed, error:112");
}

// The copy lies where the account's unelevated programs can neither replace
// it nor leave a DLL beside it: a new folder whose DACL, not inherited, lets
// only SYSTEM and Administrators change it.
TEST_F(SilentUninstallRun, TheCopyRunsFromANewFolderOnlyAdministratorsCanChange) {
  machine.module_path = folder + L"unins000.exe";
  WriteRealFile(machine.module_path, "this program");
  EXPECT_EQ(RunProgram(nullptr, L"unins000.exe /silence"), 0);
  ASSERT_EQ(machine.processes.size(), 1u);
  const std::wstring& line = machine.processes[0].command_line;
  const std::wstring copy = line.substr(1, line.find(L'"', 1) - 1);
  const std::wstring copy_folder = copy.substr(0, copy.rfind(L'\\'));
  EXPECT_EQ(ReadRealFile(copy), "this program");
  EXPECT_EQ(machine.processes[0].current_directory, copy_folder);
  EXPECT_EQ(machine.folder_security[copy_folder], L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;" +
                                                      machine.account_sid + L")(A;OICI;0x1200a9;;;OW)");
  // Without the account's SID there is no such folder: no copy, the error.
  machine.processes.clear();
  machine.Fail(Seam::GetTokenInformation, ERROR_ACCESS_DENIED);
  EXPECT_EQ(RunProgram(nullptr, L"unins000.exe /silence"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(machine.processes.empty());
}

// Folders of copies that ended uninstalls left go when they hold nothing but
// this program; anything else in one, or a link of that name, keeps it.
TEST_F(SilentUninstallRun, FoldersEarlierCopiesLeftGoWhenTheyHoldOnlyThisProgram) {
  machine.module_path = folder + L"unins000.exe";
  WriteRealFile(machine.module_path, "this program");
  const std::wstring left = machine.temp_directory + L"Tapstart-0000abcd\\";
  const std::wstring mixed = machine.temp_directory + L"Tapstart-0000abce\\";
  const std::wstring elsewhere = machine.temp_directory + L"elsewhere\\";
  for (const std::wstring& dir : {left, mixed, elsewhere}) CreateDirectoryW(dir.c_str(), nullptr);
  for (const std::wstring& dir : {left, mixed, elsewhere}) WriteRealFile(dir + L"unins000.exe", "this program");
  WriteRealFile(mixed + L"notes.txt", "someone's");
  machine.MakeLink(machine.temp_directory + L"Tapstart-0000abcf", elsewhere);
  EXPECT_EQ(RunProgram(nullptr, L"unins000.exe /silence"), 0);
  EXPECT_FALSE(Exists(left));
  EXPECT_TRUE(Exists(mixed + L"unins000.exe"));
  EXPECT_TRUE(Exists(elsewhere + L"unins000.exe"));
}

TEST_F(SilentUninstallRun, ACopyThatEndsEarlyRemovesItself) {
  machine.module_path = machine.temp_directory + L"Tapstart-0000001b\\unins000.exe";
  machine.HoldMutex(kSingleInstanceMutexName);
  EXPECT_EQ(Run(), ERROR_INSTALL_ALREADY_RUNNING);
  ASSERT_EQ(machine.delayed_moves.size(), 2u);
  EXPECT_EQ(machine.delayed_moves[0].first, machine.module_path);
  EXPECT_EQ(machine.delayed_moves[1].first, machine.temp_directory + L"Tapstart-0000001b") << "its folder, after it";
}

TEST_F(SilentUninstallRun, AFolderListingThatEndsWithAnErrorIsNotWhole) {
  machine.Fail(Seam::FindNextFileW, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(Exists(folder)) << "what was not listed may be someone else's";
}

TEST_F(SilentUninstallRun, CopiesEarlierUninstallsLeftAreDeletedAndNothingElse) {
  machine.module_path = folder + L"\\unins000.exe";
  WriteRealFile(machine.module_path, "this program");
  WriteRealFile(machine.temp_directory + L"uni1.tmp", "this program");    // left by an ended uninstall
  WriteRealFile(machine.temp_directory + L"uni2.tmp", "another program"); // someone else's
  WriteRealFile(machine.temp_directory + L"uni3.tmp", "this program");    // still running
  WriteRealFile(machine.temp_directory + L"notes.tmp", "this program");
  machine.FailNth(Seam::DeleteFileW, ERROR_ACCESS_DENIED, 2);
  EXPECT_EQ(RunProgram(nullptr, L"unins000.exe /silence"), 0);
  EXPECT_FALSE(Exists(machine.temp_directory + L"uni1.tmp"));
  EXPECT_TRUE(Exists(machine.temp_directory + L"uni2.tmp"));
  EXPECT_TRUE(Exists(machine.temp_directory + L"uni3.tmp"));
  EXPECT_TRUE(Exists(machine.temp_directory + L"notes.tmp"));
}

}  // namespace
