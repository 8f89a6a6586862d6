// Staging package files into the printer-driver and system directories.
#include <gtest/gtest.h>

#include "common/package.h"
#include "common/run_options.h"
#include "install/file_staging.h"
#include "tests/unit/install_support.h"

namespace {

using FileStaging = PackageTest;

TEST_F(FileStaging, PicksTheNativeArchitecturesFolder) {
  struct {
    WORD architecture;
    const char* folder;
  } cases[] = {{PROCESSOR_ARCHITECTURE_AMD64, "amd64"},
               {PROCESSOR_ARCHITECTURE_ARM64, "arm64"},
               {PROCESSOR_ARCHITECTURE_ARM, "arm"},
               {PROCESSOR_ARCHITECTURE_INTEL, "i386"}};
  for (const auto& c : cases) {
    machine.native_architecture = c.architecture;
    EXPECT_EQ(StageArchitectureFile(L"vlm6drv6.dll"), 1) << c.folder;
    EXPECT_EQ(ReadRealFile(DriverFile(L"vlm6drv6.dll")), std::string(c.folder) + " vlm6drv6.dll");
  }
  EXPECT_EQ(machine.CallCount(Seam::IsWow64Process2), 4) << "the machine's, not the process's architecture";
  // The source path keeps the InstallDirectory as it is, backslash and all.
  const std::wstring copied = L"CopyFile file:" + package + L"\\i386\\vlm6drv6.dll to " +
                              DriverFile(L"vlm6drv6.dll") + L", 1, errcode:";
  EXPECT_EQ(TraceStarting(copied).size(), 1u);
}

TEST_F(FileStaging, AnotherArchitectureTouchesNothing) {
  machine.native_architecture = PROCESSOR_ARCHITECTURE_IA64;  // 6
  EXPECT_EQ(StageArchitectureFile(L"vlm6drv6.dll"), 0);
  EXPECT_EQ(StageArchitectureFile(L"vlm6mon.dll"), 0);
  EXPECT_TRUE(machine.debug_writes.empty());
  for (Seam fn : {Seam::GetPrinterDriverDirectoryW, Seam::DeleteFileW, Seam::CopyFileW, Seam::MoveFileExW,
                         Seam::OpenSCManagerW}) {
    EXPECT_EQ(machine.CallCount(fn), 0) << fn;
  }
}

TEST_F(FileStaging, RemovesThenCopiesAndTracesBoth) {
  const std::wstring destination = DriverFile(L"vlm6drv6ui.dll");
  EXPECT_EQ(StageArchitectureFile(L"vlm6drv6ui.dll"), 1);
  EXPECT_EQ(TraceStarting(L"Remove file:"),
            (std::vector<std::wstring>{L"Remove file:" + destination + L", 0, errcode:2."}));
  EXPECT_EQ(ReadRealFile(destination), "amd64 vlm6drv6ui.dll");

  WriteRealFile(destination, "older");
  SetLastError(ERROR_ALREADY_EXISTS);  // left by an earlier call
  EXPECT_EQ(StageArchitectureFile(L"vlm6drv6ui.dll"), 1);
  EXPECT_EQ(TraceStarting(L"Remove file:" + destination + L", 1, errcode:0.").size(), 1u)
      << "a success is not traced with an older call's code";
  EXPECT_EQ(ReadRealFile(destination), "amd64 vlm6drv6ui.dll");
  EXPECT_EQ(TraceStarting(L"CopyFile file:").size(), 2u);
  EXPECT_EQ(machine.CallCount(Seam::OpenSCManagerW), 0) << "only the monitor stops the spooler";
}

TEST_F(FileStaging, ALockedDestinationIsReplacedAtTheNextStart) {
  const std::wstring destination = DriverFile(L"vlm6drv6.dll");
  machine.FailNth(Seam::CopyFileW, ERROR_SHARING_VIOLATION, 1);
  EXPECT_EQ(StageArchitectureFile(L"vlm6drv6.dll"), 1);
  EXPECT_TRUE(EndsWith(TraceStarting(L"CopyFile file:").back(), L", 0, errcode:32."));
  ASSERT_EQ(machine.delayed_moves.size(), 1u);
  const auto& [temporary, target] = machine.delayed_moves[0];
  EXPECT_EQ(target, destination);
  EXPECT_EQ(temporary.compare(0, machine.spooler.driver_directory.size() + 1,
                              machine.spooler.driver_directory + L"\\"),
            0)
      << "a copy beside the destination is moved, not the package's own file";
  EXPECT_EQ(ReadRealFile(temporary), "amd64 vlm6drv6.dll");
  EXPECT_EQ(machine.delayed_move_flags[0],
            static_cast<DWORD>(MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(ReadRealFile(package + L"amd64\\vlm6drv6.dll"), "amd64 vlm6drv6.dll");
  EXPECT_EQ(TraceStarting(L"Replace file:").size(), 1u);
}

TEST_F(FileStaging, AFailedReplacementGivesZeroAndLeavesNoTemporaryFile) {
  machine.FailTimes(Seam::CopyFileW, ERROR_ACCESS_DENIED, 2);  // destination and temporary copy
  EXPECT_EQ(StageArchitectureFile(L"vlm6drv6.dll"), 0);
  EXPECT_TRUE(machine.delayed_moves.empty());
  EXPECT_EQ(machine.CallCount(Seam::MoveFileExW), 0);

  machine.FailNth(Seam::CopyFileW, ERROR_ACCESS_DENIED, 1);
  machine.FailNth(Seam::MoveFileExW, ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(StageArchitectureFile(L"vlm6drv6.dll"), 0) << "the registration's result";

  machine.FailNth(Seam::CopyFileW, ERROR_ACCESS_DENIED, 1);
  machine.FailNth(Seam::GetTempFileNameW, ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(StageArchitectureFile(L"vlm6drv6.dll"), 0);

  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((machine.spooler.driver_directory + L"\\*.tmp").c_str(), &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "temporary files are removed again";
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

TEST_F(FileStaging, NoDriverDirectoryMeansNoCopy) {
  machine.Fail(Seam::GetPrinterDriverDirectoryW, RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(StageArchitectureFile(L"vlm6drv6.dll"), 0);
  EXPECT_EQ(StageArchitectureFile(L"vlm6mon.dll"), 0);
  EXPECT_EQ(StageDataFile(L"vlm6drv6.dat"), 0);
  for (Seam fn : {Seam::DeleteFileW, Seam::MoveFileExW, Seam::GetTempFileNameW}) {
    EXPECT_EQ(machine.CallCount(fn), 0) << fn;
  }
  // Only the monitor's copy into the system directory, with the spooler stopped.
  EXPECT_EQ(machine.CallCount(Seam::CopyFileW), 1);
  EXPECT_EQ(machine.CallCount(Seam::CopyFileW, SystemFile(L"vlm6mon.dll")), 1);
  EXPECT_EQ(TraceStarting(L"GetPrinterDriverDirectory failed, errcode:1722.").size(), 3u);

  // A directory that fills the whole buffer without its terminator is refused too.
  const int copies = machine.CallCount(Seam::CopyFileW);
  os.GetPrinterDriverDirectoryW = [](LPWSTR, LPWSTR, DWORD, LPBYTE buffer, DWORD size, LPDWORD) -> BOOL {
    std::fill_n(reinterpret_cast<wchar_t*>(buffer), size / sizeof(wchar_t), L'x');
    return TRUE;
  };
  EXPECT_EQ(StageDataFile(L"vlm6drv6.dat"), 0);
  EXPECT_EQ(machine.CallCount(Seam::CopyFileW), copies);
}

TEST_F(FileStaging, PathsThatDoNotFitAreNotUsedCutShort) {
  // 250 characters: the folder fits, the folder and a file name do not.
  const std::wstring deep = package + std::wstring(249 - package.size(), L'd') + L"\\";
  BoundedCopy(InstallDirectory, deep.c_str());
  ASSERT_FALSE(InstallDirectory.empty());
  EXPECT_EQ(StageArchitectureFile(L"vlm6drv6ui.dll"), 0);
  EXPECT_EQ(StageDataFile(L"vlm6drv6.dat"), 0);
  EXPECT_EQ(machine.CallCount(Seam::DeleteFileW) + machine.CallCount(Seam::CopyFileW), 0);
  EXPECT_EQ(TraceStarting(L"Path for vlm6drv6ui.dll too long").size(), 1u);
}

// Nothing holds a monitor that is not there yet: the first copy needs no stop.
TEST_F(FileStaging, AFirstMonitorIsCopiedWithoutStoppingTheSpooler) {
  EXPECT_EQ(StageArchitectureFile(L"vlm6mon.dll"), 1);
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "amd64 vlm6mon.dll");
  EXPECT_EQ(machine.CallCount(Seam::ControlService), 0);
}

TEST_F(FileStaging, TheMonitorIsReplacedInTheSystemDirectoryWhileTheSpoolerIsStopped) {
  WriteRealFile(SystemFile(L"vlm6mon.dll"), "older");
  EXPECT_EQ(StageArchitectureFile(L"vlm6mon.dll"), 1);
  EXPECT_EQ(ReadRealFile(DriverFile(L"vlm6mon.dll")), "amd64 vlm6mon.dll");
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "amd64 vlm6mon.dll");
  const int stop = machine.FirstCall(Seam::ControlService);
  const int start = machine.FirstCall(Seam::StartServiceW);
  int system_copy = -1;
  for (size_t i = 0; i < machine.calls.size(); ++i) {
    if (machine.calls[i].function == Seam::CopyFileW && machine.calls[i].detail == SystemFile(L"vlm6mon.dll")) {
      system_copy = static_cast<int>(i);
    }
  }
  EXPECT_TRUE(stop >= 0 && stop < system_copy && system_copy < start);
  EXPECT_EQ(machine.services.Spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(FileStaging, TheMonitorNameMustMatchInCaseAndTheSpoolerMustRun) {
  EXPECT_EQ(StageArchitectureFile(L"VLM6MON.DLL"), 1);
  EXPECT_EQ(machine.CallCount(Seam::OpenSCManagerW), 0) << "nothing restarted";
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "<none>");

  // A stopped spooler names no printer-driver directory; an older monitor
  // it may have loaded is not replaced without it running.
  WriteRealFile(SystemFile(L"vlm6mon.dll"), "older");
  machine.services.Spooler().state = SERVICE_STOPPED;
  EXPECT_EQ(StageArchitectureFile(L"vlm6mon.dll"), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "older") << "only with a running spooler";
  EXPECT_EQ(TraceStarting(L"The spooler is not running; vlm6mon.dll is not copied").size(), 1u);
  EXPECT_EQ(machine.services.Spooler().state, static_cast<DWORD>(SERVICE_STOPPED));
  DeleteFileW(SystemFile(L"vlm6mon.dll").c_str());

  // A failed copy into the driver directory still goes on to the system directory.
  machine.services.Spooler().state = SERVICE_RUNNING;
  machine.FailNth(Seam::CopyFileW, ERROR_SHARING_VIOLATION, 1);
  EXPECT_EQ(StageArchitectureFile(L"vlm6mon.dll"), 1);
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "amd64 vlm6mon.dll");
}

TEST_F(FileStaging, DataFileComesFromDatWithoutRemovalTraceOrDelayedMove) {
  machine.native_architecture = PROCESSOR_ARCHITECTURE_IA64;
  EXPECT_EQ(StageDataFile(L"vlm6drv6.dat"), 1) << "no architecture needed";
  EXPECT_EQ(ReadRealFile(DriverFile(L"vlm6drv6.dat")), "data");
  EXPECT_EQ(machine.CallCount(Seam::DeleteFileW, DriverFile(L"vlm6drv6.dat")), 1);
  EXPECT_TRUE(TraceStarting(L"Remove file:").empty());
  EXPECT_EQ(TraceStarting(L"CopyFile file:" + package + L"\\dat\\vlm6drv6.dat to ").size(), 1u);

  machine.FailNth(Seam::CopyFileW, ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(StageDataFile(L"vlm6drv6.dat"), 0);
  EXPECT_EQ(machine.CallCount(Seam::MoveFileExW) + machine.CallCount(Seam::GetTempFileNameW), 0);
}

TEST_F(FileStaging, SystemDirectoryCopy) {
  const std::wstring source = package + L"amd64\\vlm6mon.dll";
  EXPECT_EQ(CopyToSystemDirectory(source.c_str()), 1);
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "amd64 vlm6mon.dll");

  // A target that does not fit its buffer is not copied.
  machine.system_directory = L"C:\\" + std::wstring(250, L's');
  machine.calls.clear();
  EXPECT_EQ(CopyToSystemDirectory(source.c_str()), 0);
  EXPECT_EQ(machine.CallCount(Seam::CopyFileW), 0);
  machine.system_directory = L"C:\\" + std::wstring(258, L's');
  EXPECT_EQ(CopyToSystemDirectory(source.c_str()), 0) << "the directory alone does not fit";
  machine.Fail(Seam::GetSystemDirectoryW, ERROR_ACCESS_DENIED);
  EXPECT_EQ(CopyToSystemDirectory(source.c_str()), 0);
  EXPECT_EQ(machine.CallCount(Seam::CopyFileW), 0);
}

}  // namespace

namespace {

// A package that lacks a file never costs the installed copy of it.
TEST_F(FileStaging, AMissingPackageFileLeavesTheInstalledCopy) {
  WriteRealFile(DriverFile(L"vlm6drv6ui.dll"), "installed");
  DeleteFileW((package + L"amd64\\vlm6drv6ui.dll").c_str());
  EXPECT_EQ(StageArchitectureFile(L"vlm6drv6ui.dll"), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(ReadRealFile(DriverFile(L"vlm6drv6ui.dll")), "installed");
  for (Seam fn : {Seam::DeleteFileW, Seam::CopyFileW, Seam::MoveFileExW}) EXPECT_EQ(machine.CallCount(fn), 0) << fn;
  EXPECT_EQ(TraceStarting(L"Package file " + package + L"\\amd64\\vlm6drv6ui.dll is missing").size(), 1u);
}

// Every file call of the replacement starts from a cleared error code.
TEST_F(FileStaging, TheReplacementTraceShowsNoStaleCode) {
  machine.FailNth(Seam::CopyFileW, ERROR_SHARING_VIOLATION, 1);
  EXPECT_EQ(StageArchitectureFile(L"vlm6drv6.dll"), 1);
  ASSERT_EQ(TraceStarting(L"Replace file:").size(), 1u);
  EXPECT_TRUE(EndsWith(TraceStarting(L"Replace file:")[0], L", 1, errcode:0."));
}

}  // namespace

namespace {

// On ARM64, an x64 process is told AMD64 by GetNativeSystemInfo; only
// IsWow64Process2 names the machine. Where it is missing, the system
// information is used.
TEST_F(FileStaging, AnEmulatedRunOnArm64StagesAndRegistersForArm64) {
  machine.native_architecture = PROCESSOR_ARCHITECTURE_AMD64;
  machine.native_machine = IMAGE_FILE_MACHINE_ARM64;
  EXPECT_EQ(StageArchitectureFile(L"vlm6drv6.dll"), 1);
  EXPECT_EQ(ReadRealFile(DriverFile(L"vlm6drv6.dll")), "arm64 vlm6drv6.dll");
  EXPECT_STREQ(NativeArchitecture()->environment, L"Windows ARM64");

  machine.Fail(Seam::IsWow64Process2, ERROR_PROC_NOT_FOUND);
  EXPECT_STREQ(NativeArchitecture()->environment, L"Windows x64");
}

// A stop of the spooler makes the job it prints start again from its first
// page, on whatever queue: while one prints, the monitor in use is replaced
// at the next start instead. A job that only waits is no reason.
TEST_F(FileStaging, WhileAJobPrintsTheMonitorIsReplacedAtTheNextStartWithoutAStop) {
  WriteRealFile(SystemFile(L"vlm6mon.dll"), "older");
  machine.spooler.printers.push_back({L"Office", L"LPT1:", L"Other driver"});
  machine.spooler.printers.back().jobs = {{1, 0}, {2, JOB_STATUS_PRINTING}};
  EXPECT_EQ(StageArchitectureFile(L"vlm6mon.dll"), 1);
  EXPECT_EQ(machine.CallCount(Seam::ControlService), 0);
  EXPECT_EQ(machine.spooler.printers.back().jobs[1].restarts, 0);
  EXPECT_TRUE(RestartNeeded);
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "older");
  machine.Restart();
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "amd64 vlm6mon.dll");

  machine.spooler.printers.back().jobs = {{1, 0}};
  WriteRealFile(SystemFile(L"vlm6mon.dll"), "older");
  EXPECT_EQ(StageArchitectureFile(L"vlm6mon.dll"), 1);
  EXPECT_EQ(machine.CallCount(Seam::ControlService), 1);
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "amd64 vlm6mon.dll");
}

// An earlier uninstall found the monitor in use and left it to be deleted at
// the next start: the fresh copy is put back after that deletion.
TEST_F(FileStaging, AMonitorWaitingToBeDeletedAtTheNextStartIsPutBackAfterIt) {
  WriteRealFile(SystemFile(L"vlm6mon.dll"), "older");
  ASSERT_TRUE(os.MoveFileExW(SystemFile(L"vlm6mon.dll").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(StageArchitectureFile(L"vlm6mon.dll"), 1);
  EXPECT_TRUE(RestartNeeded);
  machine.Restart();
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "amd64 vlm6mon.dll");
}

}  // namespace
