#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "app/entry.h"
#include "common/package.h"
#include "tests/fakes/fake_machine.h"
#include "tests/unit/install_support.h"

namespace {

RunMode Select(const wchar_t* tail) { return SelectRunMode(ParseCommandLine((L"setup.exe " + std::wstring(tail)).c_str())); }

// Calls that only the install-state probe makes.
bool Probed(const FakeMachine& m) {
  return m.CallCount(Seam::GetNativeSystemInfo) + m.CallCount(Seam::EnumPrinterDriversW) +
             m.CallCount(Seam::RegOpenKeyW) >
         0;
}

TEST(CommandLine, OptionsInAnyLetterCase) {
  FakeMachine machine;
  CommandLineOptions o = ParseCommandLine(L"setup.exe /SILENCE");
  EXPECT_TRUE(o.silent);
  EXPECT_FALSE(o.uninstall);
  o = ParseCommandLine(L"setup.exe -U \"C:\\Drivers\\\"");
  EXPECT_TRUE(o.uninstall);
  EXPECT_STREQ(o.directory.c_str(), L"C:\\Drivers\\") << "the folder ends at the quote, its backslash kept";
  o = ParseCommandLine(L"setup.exe -u C:\\Drivers");
  EXPECT_STREQ(o.directory.c_str(), L"C:\\Drivers") << "kept verbatim, no backslash added";
  EXPECT_EQ(machine.LiveBlocks(), 0) << "the argument array is released";
}

TEST(CommandLine, UninstallOptionEdgeCases) {
  FakeMachine machine;
  CommandLineOptions o = ParseCommandLine(L"setup.exe /silence -u");
  EXPECT_FALSE(o.uninstall) << "-u as the last argument is ignored";
  EXPECT_TRUE(o.silent);

  o = ParseCommandLine(L"setup.exe -u /silence");
  EXPECT_TRUE(o.uninstall);
  EXPECT_FALSE(o.silent) << "the folder after -u is never read as an option";
  EXPECT_STREQ(o.directory.c_str(), L"/silence");

  o = ParseCommandLine(L"setup.exe -u C:\\first\\ -u D:\\second\\");
  EXPECT_STREQ(o.directory.c_str(), L"D:\\second\\");
}

TEST(CommandLine, RefusedFolders) {
  FakeMachine machine;
  EXPECT_TRUE(ParseCommandLine(L"setup.exe -u \"\"").directory_refused);
  const std::wstring too_long = L"setup.exe -u C:\\" + std::wstring(260, L'd');
  const CommandLineOptions o = ParseCommandLine(too_long.c_str());
  EXPECT_TRUE(o.directory_refused);
  EXPECT_TRUE(o.directory.empty());
  EXPECT_EQ(SelectRunMode(o), RunMode::kRefusedDirectory);
  EXPECT_FALSE(ParseCommandLine(L"setup.exe -u \"\" -u C:\\ok\\").directory_refused);
}

TEST(CommandLine, FailedSplitCountsAsEmpty) {
  FakeMachine machine;
  machine.Fail(Seam::CommandLineToArgvW, ERROR_NOT_ENOUGH_MEMORY);
  const CommandLineOptions o = ParseCommandLine(L"setup.exe -u C:\\x\\ /silence");
  EXPECT_FALSE(o.uninstall);
  EXPECT_FALSE(o.silent);
}

TEST(RunMode, UninstallFolderIsUsedWithoutProbingOrLookingAtTheName) {
  FakeMachine machine;
  machine.module_path = L"C:\\Drivers\\Setup\\unins000.exe";
  EXPECT_EQ(Select(L"-u D:\\Other\\"), RunMode::kUninstallDialog);
  EXPECT_EQ(Select(L"-u D:\\Other\\ /silence"), RunMode::kSilentUninstall);
  EXPECT_STREQ(InstallDirectory.c_str(), L"D:\\Other\\");
  EXPECT_FALSE(Probed(machine));
  EXPECT_EQ(machine.CallCount(Seam::GetModuleFileNameW), 0);
}

TEST(RunMode, InstallDirectoryIsTheProgramsFolder) {
  FakeMachine machine;
  machine.module_path = L"C:\\Drivers\\Setup\\setup.exe";
  EXPECT_EQ(Select(L""), RunMode::kInstallDialog);
  EXPECT_STREQ(InstallDirectory.c_str(), L"C:\\Drivers\\Setup\\");
  EXPECT_EQ(Select(L"/Silence"), RunMode::kSilentInstall);
}

TEST(RunMode, NameUnins000IsComparedWithRegardToCase) {
  FakeMachine machine;
  machine.module_path = L"C:\\Drivers\\Setup\\unins000.exe";
  EXPECT_EQ(Select(L"/silence"), RunMode::kRelaunchAsUninstaller);
  EXPECT_FALSE(Probed(machine)) << "the name decides before the probe";
  machine.module_path = L"C:\\Drivers\\Setup\\unins000.dat";
  EXPECT_EQ(Select(L""), RunMode::kRelaunchAsUninstaller);
  machine.module_path = L"C:\\Drivers\\Setup\\Unins000.exe";
  EXPECT_EQ(Select(L""), RunMode::kInstallDialog);
  machine.module_path = L"C:\\Drivers\\Setup\\UNINS000.EXE";
  EXPECT_EQ(Select(L""), RunMode::kInstallDialog);
}

TEST(RunMode, PathThatCannotBeSplitLeavesInstallDirectoryEmpty) {
  FakeMachine machine;
  // Cut to 259 characters, the folder piece needs 257 with its terminator.
  machine.module_path = L"C:\\" + std::wstring(254, L'd') + L"\\unins000.exe";
  EXPECT_EQ(Select(L""), RunMode::kInstallDialog) << "the name is then empty";
  EXPECT_TRUE(InstallDirectory.empty());
}

TEST(Entry, AWindowStationThatCannotBeToldKeepsTheWindows) {
  FakeMachine machine;
  machine.Fail(Seam::GetUserObjectInformationW, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(InteractiveWindowStation());
}

TEST(Entry, SecondInstanceLeavesAtOnce) {
  FakeMachine machine;
  machine.HoldMutex(kSingleInstanceMutexName);
  machine.module_path = L"C:\\Drivers\\Setup\\unins000.exe";
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe "), 0);
  EXPECT_TRUE(machine.processes.empty());
  // Only the command line is read, to tell a deployment tool to try again.
  EXPECT_EQ(machine.CallCount(Seam::GetModuleFileNameW), 0);
  EXPECT_EQ(machine.CallCount(Seam::RegOpenKeyW), 0) << "no probe";
}

TEST(Entry, RefusedFolderShowsChangesAndStartsNothing) {
  FakeMachine machine;
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe -u \"\""), 0);
  EXPECT_TRUE(machine.processes.empty());
  EXPECT_TRUE(machine.message_boxes.empty());
  EXPECT_EQ(machine.OpenHandleCount(), 0) << "the lock is closed";
}

TEST(Entry, RelaunchCopiesTheProgramAndStartsTheCopyWithTheFolder) {
  FakeMachine machine;
  // The program file itself: a real file, so the copy can be compared.
  const std::wstring program = machine.temp_directory + L"unins000.exe";
  {
    std::ofstream out(std::string(program.begin(), program.end()), std::ios::binary);
    out << "MZ program bytes";
  }
  machine.module_path = program;
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe "), 0);

  ASSERT_EQ(machine.processes.size(), 1u);
  const std::wstring& line = machine.processes[0].command_line;
  const std::wstring expected_tail = L"\" -u \"" + machine.temp_directory;
  ASSERT_GE(line.size(), expected_tail.size());
  EXPECT_EQ(line.substr(line.size() - expected_tail.size()), expected_tail)
      << "no closing quote after the folder";
  // The lock was gone before the copy started.
  EXPECT_LT(machine.FirstCall(Seam::ReleaseMutex), machine.FirstCall(Seam::CreateProcessW));
  EXPECT_EQ(machine.OpenHandleCount(), 0) << "process, thread and mutex handles closed";

  // The copy is a byte-identical unins000.exe in a folder of its own in the temp folder.
  const std::wstring copy = line.substr(1, line.find(L'"', 1) - 1);
  EXPECT_EQ(copy.rfind(machine.temp_directory + L"Tapstart-", 0), 0u);
  EXPECT_EQ(copy.substr(copy.size() - 13), L"\\unins000.exe");
  std::ifstream in(std::string(copy.begin(), copy.end()), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, "MZ program bytes");
}

TEST(Entry, RelaunchLineGivesTheChildTheFolderWithItsBackslash) {
  WideText<kChildCommandLineCapacity> line;
  FormatRelaunchCommandLine(line, L"C:\\Temp\\uni3F2.tmp", L"C:\\Drivers\\Setup\\");
  EXPECT_STREQ(line.c_str(), L"\"C:\\Temp\\uni3F2.tmp\" -u \"C:\\Drivers\\Setup\\");
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(line.c_str(), &count);  // the real splitter
  ASSERT_NE(args, nullptr);
  ASSERT_EQ(count, 3);
  EXPECT_STREQ(args[0], L"C:\\Temp\\uni3F2.tmp");
  EXPECT_STREQ(args[1], L"-u");
  EXPECT_STREQ(args[2], L"C:\\Drivers\\Setup\\");
  LocalFree(args);
}

// Started by hand where the family is installed: the uninstall runs in a copy
// of this program, never in whatever file of the uninstaller's name lies in
// the folder.
TEST(Entry, TheInstalledFamilyIsHandedToACopyOfThisProgramNotToTheFileBesideIt) {
  FakeMachine machine;
  const std::wstring folder = machine.temp_directory + L"Tapstart\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  WriteRealFile(folder + L"setup.exe", "MZ this program");
  WriteRealFile(folder + L"unins000.exe", "MZ left by someone");
  machine.module_path = folder + L"setup.exe";
  FakeDriver driver;
  driver.name = L"Vellumor VL-K20";
  driver.driver_path = L"C:\\spool\\vlm6drv6.dll";
  machine.spooler.drivers.push_back(driver);

  EXPECT_EQ(RunProgram(nullptr, L"setup.exe"), 0);
  ASSERT_EQ(machine.processes.size(), 1u);
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(machine.processes[0].command_line.c_str(), &count);  // the real splitter
  ASSERT_EQ(count, 3);
  EXPECT_EQ(ReadRealFile(args[0]), "MZ this program");
  EXPECT_STREQ(args[1], L"-u");
  EXPECT_EQ(std::wstring(args[2]), folder);
  LocalFree(args);
}

TEST(Entry, FailedCopyOrStartStillEndsWithZeroAndLeavesNoCopy) {
  FakeMachine machine;
  machine.module_path = machine.temp_directory + L"unins000.exe";
  WriteRealFile(machine.module_path, "MZ program bytes");
  machine.FailNth(Seam::CopyFileW, ERROR_DISK_FULL, 1);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe "), 0);
  machine.Fail(Seam::CreateProcessW, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe "), 0);
  EXPECT_EQ(machine.OpenHandleCount(), 0);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((machine.temp_directory + L"Tapstart-*").c_str(), &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "no folder of a copy left";
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

}  // namespace
