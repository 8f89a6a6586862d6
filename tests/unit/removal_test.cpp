#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "common/package.h"
#include "common/run_options.h"
#include "common/string_table.h"
#include "resources/resource_ids.h"
#include "tests/unit/inventory_fixture.h"
#include "tests/unit/uninstall_window.h"
#include "uninstall/install_folder.h"
#include "uninstall/removal.h"
#include "uninstall/uninstall_text.h"
#include "uninstall/uninstall_workers.h"

namespace {

class Removal : public InstallFolderTest {
 public:
  UninstallWindow dialog;

  void SetUp() override {
    InstallFolderTest::SetUp();
    BoundedCopy(InstallDirectory, folder.c_str());
    BeginWorkerRun();  // as the dialog does before it starts the worker
  }
  void TearDown() override {
    EndWorkerRun();
    InventoryTest::TearDown();
  }

  // One package with one driver and its queue, on port USB001.
  void InstallOne() {
    AddPackage(L"a", kStoreA);
    AddDriver(L"Vellumor VL-K20", kStoreA);
    AddQueue(L"Vellumor VL-K20", L"Vellumor VL-K20");
    machine.spooler.monitors.push_back({L"Vellumor Language Monitor V6", L"vlm6mon.dll"});
  }
  void Run() { RemovalWorker(dialog.window()); }
  bool Closed() { return dialog.Count(WM_COMMAND, IDCANCEL) == 1; }
  bool FinalStepRan() { return !Exists(folder) && Closed(); }
  std::vector<std::wstring> TraceLinesWith(const std::wstring& part) const {
    std::vector<std::wstring> lines;
    for (const std::wstring& line : machine.TraceLines()) {
      if (line.find(part) != std::wstring::npos) lines.push_back(line);
    }
    return lines;
  }
};

TEST_F(Removal, EmptyInventoryRunsTheFinalStep) {
  ScanAll();
  Run();
  EXPECT_EQ(dialog.Positions(), (std::vector<int>{20, 30, 100}));
  EXPECT_EQ(dialog.Count(WM_USER + 1, 0), 1);
  EXPECT_FALSE(Exists(monitor));
  // The file went while the spooler was stopped, and the spooler runs again.
  const int stop = machine.FirstCall(Seam::ControlService);
  const int deletion = machine.FirstCall(Seam::DeleteFileW);
  const int start = machine.FirstCall(Seam::StartServiceW);
  EXPECT_TRUE(stop >= 0 && stop < deletion && deletion < start);
  EXPECT_EQ(machine.services.Spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_FALSE(Exists(folder));
  ASSERT_EQ(machine.message_boxes.size(), 1u);
  EXPECT_EQ(machine.message_boxes[0].text, L"The driver is uninstalled.");
  EXPECT_EQ(machine.message_boxes[0].caption, L"Message");
  EXPECT_TRUE(Closed());
  EXPECT_FALSE(dialog.Enabled(IDC_REMOVE)) << "the buttons stay disabled until the dialog closes";
  EXPECT_FALSE(dialog.Enabled(IDCANCEL));
  EXPECT_FALSE(WorkerRunning()) << "the run ended before the dialog was told to close";
  EXPECT_FALSE(dialog.Shown(IDC_PROGRESS));
}

TEST_F(Removal, EverythingGoesBottomUp) {
  InstallOne();
  machine.devices.nodes = {{L"SWD\\PRINTENUM\\{1}", L"Vellumor VL-K20", true},
                           {L"SWD\\PRINTENUM\\{2}", L"Vellumor VL-K20", false},
                           {L"SWD\\PRINTENUM\\{3}", L"Other", true},
                           // The printer itself, named like its queue: not a queue's node.
                           {L"USBPRINT\\VELLUMORVL-K20\\1", L"Vellumor VL-K20", true, false}};
  ScanAll();
  Run();
  EXPECT_TRUE(machine.spooler.printers.empty());
  EXPECT_TRUE(machine.spooler.drivers.empty());
  EXPECT_TRUE(machine.spooler.monitors.empty());
  EXPECT_TRUE(machine.spooler.packages.empty());
  EXPECT_EQ(machine.devices.removed_nodes,
            (std::vector<std::wstring>{L"SWD\\PRINTENUM\\{1}", L"SWD\\PRINTENUM\\{2}"}))
      << "the queue's device nodes, present or not";
  EXPECT_EQ(dialog.Positions(), (std::vector<int>{20, 30, 60, 80, 100}));
  DriverPackageNode* package = PackageList;
  EXPECT_STREQ(package->status.c_str(), L"Removed.");
  EXPECT_STREQ(package->drivers->status.c_str(), L"Removed.");
  EXPECT_STREQ(package->drivers->queues->status.c_str(), L"Removed.");
  EXPECT_EQ(package->driver_count, 0);
  EXPECT_EQ(package->drivers->queue_count, 0);
  // 300 ms after the queue and after the driver; none after the package.
  EXPECT_EQ(machine.sleeps, (std::vector<DWORD>{300, 300}));
  EXPECT_TRUE(FinalStepRan());
  EXPECT_EQ(machine.OpenHandleCount(), 0);
  EXPECT_EQ(machine.LiveBlocks(), InventoryBlocks());
}

TEST_F(Removal, QueuesAlreadyGoneCountAsRemoved) {
  // One driver under two packages: its queue stands twice; and a second queue
  // is deleted by other means after the inventory.
  AddPackage(L"a", kStoreA);
  AddPackage(L"b", kStoreB);
  AddDriver(L"Vellumor VL-K20", kStoreA);
  AddQueue(L"Vellumor VL-K20", L"Vellumor VL-K20");
  AddQueue(L"Vellumor VL-K20 (Copy 1)", L"Vellumor VL-K20");
  ScanAll();
  machine.spooler.printers.pop_back();
  Run();
  for (DriverPackageNode* package : Packages()) {
    for (PrinterQueueNode* queue : Queues(package->drivers)) EXPECT_STREQ(queue->status.c_str(), L"Removed.");
    EXPECT_STREQ(package->status.c_str(), L"Removed.");
  }
  EXPECT_EQ(machine.CallCount(Seam::DeletePrinter), 1);
  EXPECT_TRUE(FinalStepRan());
}

TEST_F(Removal, QueueThatCannotBeDeletedHoldsUpItsDriverAndPackage) {
  InstallOne();
  machine.devices.nodes = {{L"SWD\\PRINTENUM\\{1}", L"Vellumor VL-K20", true}};
  ScanAll();
  machine.Fail(Seam::DeletePrinter, ERROR_ACCESS_DENIED);
  Run();
  DriverPackageNode* package = PackageList;
  EXPECT_STREQ(package->drivers->queues->status.c_str(), L"Failed. Error:5");
  EXPECT_TRUE(package->drivers->status.empty());
  EXPECT_TRUE(package->status.empty());
  EXPECT_EQ(machine.CallCount(Seam::DeletePrinterDriverExW), 0);
  EXPECT_EQ(machine.CallCount(Seam::DeletePrinterDriverPackageW), 0);
  EXPECT_EQ(machine.devices.removed_nodes.size(), 1u) << "device nodes go after a failed deletion too";
  ASSERT_EQ(machine.message_boxes.size(), 1u);
  EXPECT_EQ(machine.message_boxes[0].text.rfind(L"Uninstall driver failed.", 0), 0u);
  EXPECT_TRUE(machine.message_boxes[0].caption.empty());
  EXPECT_EQ(machine.CallCount(Seam::DeleteFileW), 0);
  EXPECT_TRUE(Exists(folder));
  EXPECT_FALSE(Closed());
  EXPECT_TRUE(dialog.Enabled(IDC_REMOVE));
  EXPECT_TRUE(dialog.Enabled(IDCANCEL));
  EXPECT_FALSE(WorkerRunning());

  // Once the cause has gone, a second run removes only what is left.
  machine.faults.clear();
  machine.calls.clear();
  BeginWorkerRun();
  Run();
  EXPECT_EQ(machine.CallCount(Seam::DeletePrinter), 1);
  EXPECT_EQ(machine.CallCount(Seam::DeletePrinterDriverExW), 1);
  EXPECT_EQ(machine.CallCount(Seam::DeletePrinterDriverPackageW), 1);
  EXPECT_STREQ(package->drivers->queues->status.c_str(), L"Removed.");
  EXPECT_TRUE(FinalStepRan());
}

TEST_F(Removal, DriverInUseIsTriedTenTimesWithARestartEach) {
  AddPackage(L"a", kStoreA);
  AddDriver(L"Vellumor VL-K20", kStoreA);
  machine.spooler.drivers_in_use = {L"Vellumor VL-K20"};
  ScanAll();
  Run();
  EXPECT_EQ(machine.CallCount(Seam::DeletePrinterDriverExW), 20);
  EXPECT_EQ(machine.CallCount(Seam::DeleteMonitorW), 10);
  EXPECT_EQ(machine.services.Spooler().stop_requests, 10);
  EXPECT_EQ(machine.services.Spooler().start_requests, 10);
  // Each try: the restart's closing pause, then 1000 ms after the try.
  EXPECT_EQ(machine.clock_ms, 20000u);
  EXPECT_EQ(std::count(machine.sleeps.begin(), machine.sleeps.end(), 1000u), 20);
  EXPECT_STREQ(PackageList->drivers->status.c_str(), L"Failed. Error:3001");
  EXPECT_TRUE(PackageList->status.empty()) << "the package waits for its driver";
  EXPECT_EQ(machine.message_boxes.size(), 1u);
}

TEST_F(Removal, PackageInUseByDevicesIsTriedFiveTimes) {
  AddPackage(L"a", kStoreA);  // no driver: deleted right after position 80
  machine.spooler.packages_in_use = {kStoreA};
  ScanAll();
  Run();
  EXPECT_EQ(machine.CallCount(Seam::DeletePrinterDriverPackageW), 5);
  EXPECT_EQ(machine.sleeps, (std::vector<DWORD>{1000, 1000, 1000, 1000, 1000}));
  // English shows the HRESULT as signed decimal, the other languages as 0x%x
  // (the uninstall scenario runs this test in German too).
  UninstallText format;
  LoadText(format, IDS_REMOVE_FAILED);
  const std::wstring status = PackageList->status.c_str();
  if (format.equals(L"Failed. Error:%d")) {
    EXPECT_EQ(status, L"Failed. Error:-2146500035");
  } else {
    ASSERT_GE(status.size(), 10u);
    EXPECT_EQ(status.substr(status.size() - 10), L"0x800f023d");
  }
  std::printf("package status: %ls\n", status.c_str());
  EXPECT_EQ(PackageList->removed, 0u);
  EXPECT_EQ(dialog.Positions(), (std::vector<int>{20, 30, 80, 100}));
}

TEST_F(Removal, AnyOtherPackageAnswerEndsAfterOneCall) {
  AddPackage(L"a", kStoreA);
  ScanAll();
  machine.Fail(Seam::DeletePrinterDriverPackageW, static_cast<DWORD>(E_ACCESSDENIED));
  Run();
  EXPECT_EQ(machine.CallCount(Seam::DeletePrinterDriverPackageW), 1);
  EXPECT_TRUE(machine.sleeps.empty());
  EXPECT_STREQ(PackageList->status.c_str(), L"Failed. Error:-2147024891");
}

TEST_F(Removal, ASpoolerFoundStoppedIsStartedFirst) {
  machine.services.Spooler().state = SERVICE_STOPPED;
  ScanAll();
  Run();
  EXPECT_FALSE(Exists(monitor)) << "deleted during a stop of ours, as on a running machine";
  EXPECT_EQ(machine.services.Spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(machine.services.Spooler().start_requests, 2);
  const std::vector<std::wstring> trace = machine.TraceLines();
  EXPECT_EQ(std::count(trace.begin(), trace.end(), L"The spooler is not running (state 1); starting it first."), 1);
  EXPECT_TRUE(FinalStepRan());
  EXPECT_EQ(machine.message_boxes.size(), 1u);
}

TEST_F(Removal, MonitorFileTries) {
  DeleteFileW(monitor.c_str());
  EXPECT_EQ(DeleteMonitorFile(kMonitorDll), 1);
  EXPECT_EQ(machine.CallCount(Seam::DeleteFileW), 1) << "a missing file counts as deleted";
  EXPECT_TRUE(machine.sleeps.empty());

  machine.calls.clear();
  machine.Fail(Seam::DeleteFileW, ERROR_SHARING_VIOLATION);
  DeleteMonitorFile(kMonitorDll);
  EXPECT_EQ(machine.CallCount(Seam::DeleteFileW), 5);
  EXPECT_EQ(machine.sleeps, (std::vector<DWORD>{1000, 1000, 1000, 1000, 1000}));
}

TEST_F(Removal, FolderWithoutOurFilesIsKept) {
  DeleteFileW((folder + L"unins000.exe").c_str());
  DeleteFileW((folder + L"vlm6v6.inf").c_str());
  MakeFile(folder + L"letter.doc");
  ScanAll();
  Run();
  EXPECT_TRUE(Exists(folder + L"letter.doc"));
  EXPECT_EQ(machine.CallCount(Seam::SHFileOperationW), 0);
  EXPECT_EQ(machine.message_boxes.size(), 1u) << "the rest of the final step runs";
  EXPECT_TRUE(Closed());
}

TEST_F(Removal, OnlyOurOwnFolderMayBeDeleted) {
  const std::wstring temp = machine.temp_directory;
  EXPECT_TRUE(IsOwnInstallDirectory(folder.c_str()));
  const std::wstring bare = folder.substr(0, folder.size() - 1);
  EXPECT_TRUE(IsOwnInstallDirectory(bare.c_str())) << "without trailing backslash";
  CreateDirectoryW((temp + L"inf").c_str(), nullptr);
  MakeFile(temp + L"inf\\vlm6v6.inf");
  EXPECT_TRUE(IsOwnInstallDirectory((temp + L"inf\\").c_str()));

  // Our files, reached by a path that must not be trusted.
  EXPECT_FALSE(IsOwnInstallDirectory((folder + L"..\\Tapstart\\").c_str()));
  EXPECT_FALSE(IsOwnInstallDirectory((folder + L".").c_str()));
  EXPECT_FALSE(IsOwnInstallDirectory((temp + L"Taps*").c_str()));
  EXPECT_FALSE(IsOwnInstallDirectory(L"Tapstart\\"));
  EXPECT_FALSE(IsOwnInstallDirectory(L""));
  EXPECT_FALSE(IsOwnInstallDirectory(L"\\\\?\\C:\\Tapstart"));
  // A drive root, even one that holds our files.
  MakeFile(L"C:\\vlm6v6.inf");
  EXPECT_FALSE(IsOwnInstallDirectory(L"C:\\"));
  EXPECT_FALSE(IsOwnInstallDirectory(L"C:\\\\"));
  DeleteFileW(L"C:\\vlm6v6.inf");
  EXPECT_FALSE(IsOwnInstallDirectory(L"\\\\server\\share\\"));
}

// Every call of the removal fails once in turn: no crash, every handle closed,
// no block left behind, and the spooler never left stopped by the run.
TEST(RemovalFaults, EveryCallOfTheRemovalMayFail) {
  Seam functions[] = {Seam::OpenPrinterW, Seam::SetPrinterW, Seam::DeletePrinter, Seam::SetupDiClassGuidsFromNameW,
                             Seam::LocalAlloc, Seam::SetupDiGetClassDevsExW, Seam::SetupDiEnumDeviceInfo,
                             Seam::SetupDiGetDeviceRegistryPropertyW, Seam::SetupDiRemoveDevice, Seam::DeleteMonitorW,
                             Seam::DeletePrinterDriverExW, Seam::DeletePrinterDriverPackageW, Seam::OpenSCManagerW,
                             Seam::OpenServiceW, Seam::QueryServiceStatusEx, Seam::ControlService, Seam::StartServiceW,
                             Seam::GetSystemDirectoryW, Seam::DeleteFileW, Seam::GetFileAttributesW, Seam::SHFileOperationW,
                             Seam::MessageBoxW, Seam::FindFirstFileW, Seam::FindNextFileW,
                             Seam::GetPrivateProfileSectionW};
  for (Seam function : functions) {
    for (int nth = 1; nth <= 3; ++nth) {
      struct Case : Removal {
        void TestBody() override {}
      } t;
      t.SetUp();
      t.InstallOne();
      t.machine.devices.nodes = {{L"SWD\\PRINTENUM\\{1}", L"Vellumor VL-K20", true}};
      InventoryTest::ScanAll();
      const int blocks = t.machine.LiveBlocks();
      t.machine.FailNth(function, ERROR_GEN_FAILURE, nth);
      t.Run();
      EXPECT_EQ(t.machine.OpenHandleCount(), 0) << function << " " << nth;
      EXPECT_EQ(t.machine.LiveBlocks(), blocks) << function << " " << nth;
      EXPECT_FALSE(WorkerRunning()) << function << " " << nth;
      if (function != Seam::StartServiceW) {
        EXPECT_EQ(t.machine.services.Spooler().state, static_cast<DWORD>(SERVICE_RUNNING)) << function << " " << nth;
      }
      t.TearDown();
    }
  }
}

}  // namespace

namespace {

// A failed inventory is not an empty one: Remove removes nothing on its word
// and takes it again at the next press.
TEST_F(Removal, AFailedInventoryRunsNoFinalStepAndIsTakenAgain) {
  InstallOne();
  machine.Fail(Seam::EnumPrinterDriversW, RPC_S_SERVER_UNAVAILABLE);
  TakeInventory();
  Run();
  EXPECT_TRUE(Exists(folder));
  EXPECT_EQ(machine.CallCount(Seam::DeletePrinter), 0);
  ASSERT_EQ(machine.message_boxes.size(), 1u);
  EXPECT_EQ(machine.message_boxes[0].text, L"Uninstall driver failed. Please try again, or reboot your OS then try again, or contact our support for assistance.");
  EXPECT_FALSE(Closed());

  machine.faults.clear();
  BeginWorkerRun();
  Run();
  EXPECT_EQ(machine.CallCount(Seam::DeletePrinter), 1) << "the second press read the inventory again";
  EXPECT_TRUE(FinalStepRan());
}

// An uninstaller of our name beside someone else's files is not our folder.
TEST_F(Removal, AnotherProductsUninstallerFolderIsKept) {
  DeleteFileW((folder + L"vlm6v6.inf").c_str());
  MakeFile(folder + L"report.xls");
  ScanAll();
  Run();
  EXPECT_TRUE(Exists(folder + L"unins000.exe"));
  EXPECT_TRUE(Exists(folder + L"report.xls"));
  EXPECT_EQ(machine.CallCount(Seam::SHFileOperationW), 0);
}

// The package beside a user's files: only the package's entries go.
TEST_F(Removal, AUsersFilesBesideThePackageStay) {
  MakeFile(folder + L"setup.exe");  // the program, as big as its uninstaller
  MakeFile(folder + L"letter.doc");
  for (const wchar_t* sub : {L"amd64", L"dat"}) CreateDirectoryW((folder + sub).c_str(), nullptr);
  MakeFile(folder + L"amd64\\vlm6drv6.dll");
  MakeFile(folder + L"amd64\\notes.txt");
  MakeFile(folder + L"dat\\vlm6drv6.dat");
  ScanAll();
  Run();
  EXPECT_TRUE(Exists(folder + L"letter.doc"));
  EXPECT_TRUE(Exists(folder + L"amd64\\notes.txt"));
  for (const wchar_t* ours : {L"unins000.exe", L"vlm6v6.inf", L"setup.exe", L"amd64\\vlm6drv6.dll", L"dat"}) {
    EXPECT_FALSE(Exists(folder + ours)) << std::string(ours, ours + wcslen(ours));
  }
  EXPECT_EQ(machine.message_boxes.size(), 1u) << "the uninstall itself is done";
}

// A package folder replaced by a junction to another folder, whose files the
// INF names: nothing is deleted through it; the rest of the package goes.
TEST_F(Removal, AJunctionInPlaceOfAPackageFolderIsKeptWithAllItLeadsTo) {
  const std::wstring elsewhere = machine.temp_directory + L"System\\";
  CreateDirectoryW(elsewhere.c_str(), nullptr);
  MakeFile(elsewhere + L"vlm6drv6.dll");
  MakeFile(elsewhere + L"config.sys");
  std::ofstream(std::string(folder.begin(), folder.end()) + "vlm6v6.inf") << "[SourceDisksFiles]\r\nconfig.sys=1\r\n";
  machine.MakeLink(folder + L"amd64", elsewhere);
  CreateDirectoryW((folder + L"dat").c_str(), nullptr);
  MakeFile(folder + L"dat\\vlm6drv6.dat");
  ScanAll();
  Run();
  EXPECT_TRUE(Exists(elsewhere + L"vlm6drv6.dll"));
  EXPECT_TRUE(Exists(elsewhere + L"config.sys"));
  EXPECT_TRUE(machine.IsLink(folder + L"amd64"));
  for (const wchar_t* ours : {L"unins000.exe", L"vlm6v6.inf", L"dat"}) {
    EXPECT_FALSE(Exists(folder + ours)) << std::string(ours, ours + wcslen(ours));
  }
  EXPECT_EQ(TraceLinesWith(L": it is a link"), std::vector<std::wstring>{L"Keeping " + folder + L"amd64: it is a link"});
}

// A link among a package folder's files stays, and so does its folder.
TEST_F(Removal, ALinkAmongThePackagesFilesIsKept) {
  MakeFile(machine.temp_directory + L"config.sys");
  CreateDirectoryW((folder + L"dat").c_str(), nullptr);
  machine.MakeLink(folder + L"dat\\vlm6drv6.dat", machine.temp_directory + L"config.sys");
  ScanAll();
  Run();
  EXPECT_TRUE(machine.IsLink(folder + L"dat\\vlm6drv6.dat"));
  EXPECT_TRUE(Exists(machine.temp_directory + L"config.sys"));
  EXPECT_FALSE(Exists(folder + L"vlm6v6.inf"));
}

// A package folder swapped for a junction after the folder was looked
// through, right before the deletion: nothing is deleted.
TEST_F(Removal, AFolderSwappedForAJunctionBeforeTheDeletionStopsIt) {
  const std::wstring elsewhere = machine.temp_directory + L"System";
  CreateDirectoryW(elsewhere.c_str(), nullptr);
  MakeFile(elsewhere + L"\\vlm6drv6.dll");
  CreateDirectoryW((folder + L"amd64").c_str(), nullptr);
  MakeFile(folder + L"amd64\\vlm6drv6.dll");
  MakeFile(folder + L"letter.doc");  // the package's entries go one by one
  ScanAll();
  static std::wstring swapped, target;
  swapped = folder + L"amd64";
  target = elsewhere;
  // The sorting only lists; the first look at a path below the package folder
  // is the one right before the deletion.
  SwapSeam<&OsTable::GetFileAttributesW> attributes([](LPCWSTR path) {
    if (std::wstring(path).find(L"amd64") != std::wstring::npos && !Fake().IsLink(swapped)) {
      MoveFileW(swapped.c_str(), (swapped + L"-old").c_str());
      Fake().MakeLink(swapped, target);
    }
    return SwapSeam<&OsTable::GetFileAttributesW>::Previous()(path);
  });
  Run();
  EXPECT_TRUE(Exists(elsewhere + L"\\vlm6drv6.dll"));
  EXPECT_EQ(machine.CallCount(Seam::SHFileOperationW), 0);
  EXPECT_TRUE(Exists(folder + L"vlm6v6.inf"));
}

}  // namespace

namespace {

// DeletePrinterDriverPackage answers HRESULT_FROM_WIN32(ERROR_PRINT_DRIVER_
// PACKAGE_IN_USE) while a driver from the package is installed: here the x86
// driver of the same package, which the x64 inventory does not list.
TEST_F(Removal, APackageInUseByAnotherDriverIsTriedAgainAsADevicesPackageIs) {
  InstallOne();
  FakeDriver& x86 = AddDriver(L"Vellumor VL-K20", kStoreA);
  x86.environment = L"Windows NT x86";
  ScanAll();
  Run();
  EXPECT_EQ(machine.CallCount(Seam::DeletePrinterDriverPackageW), 5);
  EXPECT_STREQ(PackageList->status.c_str(), L"Failed. Error:-2147021881");
}

TEST_F(Removal, ABareInUseCodeIsTriedAgainToo) {
  InstallOne();
  machine.FailTimes(Seam::DeletePrinterDriverPackageW, 0xBC7, 2);
  ScanAll();
  Run();
  EXPECT_TRUE(machine.spooler.packages.empty()) << "removed at the third try";
}

TEST_F(Removal, AnAbortedShellDeletionKeepsTheFolderAndTellsTheShellNothing) {
  ScanAll();
  machine.shell_aborts = true;
  Run();
  EXPECT_TRUE(Exists(folder));
  EXPECT_EQ(machine.CallCount(Seam::SHChangeNotify), 0);
}

TEST_F(Removal, ADeletedFolderIsAnnouncedToTheShellAfterwards) {
  ScanAll();
  machine.calls.clear();
  Run();
  EXPECT_FALSE(Exists(folder));
  EXPECT_GT(machine.FirstCall(Seam::SHChangeNotify), machine.FirstCall(Seam::SHFileOperationW));
  EXPECT_EQ(machine.calls[machine.FirstCall(Seam::SHChangeNotify)].detail.rfind(std::to_wstring(SHCNE_RMDIR) + L" ", 0), 0u);
}

TEST_F(Removal, TheDriverDeletionsRunWithTheLoadDriverPrivilege) {
  InstallOne();
  machine.holds_load_driver_privilege = false;
  ScanAll();
  Run();
  EXPECT_FALSE(machine.spooler.drivers.empty()) << "refused with ERROR_PRIVILEGE_NOT_HELD";
  const std::vector<std::wstring> trace = machine.TraceLines();
  EXPECT_NE(std::find_if(trace.begin(), trace.end(),
                         [](const std::wstring& l) { return l.find(L"does not hold SeLoadDriverPrivilege") != std::wstring::npos; }),
            trace.end());
}

// Windows answers ERROR_INVALID_PARAMETER for a package no longer in the
// store (an earlier run deleted it); the store's INF being gone is what
// counts. An answer of "not found" while it is there is a failure.
TEST_F(Removal, APackageCountsAsGoneOnlyWhenItsInfIsGone) {
  AddPackage(L"a", kStoreA);
  ScanAll();
  RemoveRealTree(machine.RealPath(std::wstring(kStoreA).substr(0, std::wstring(kStoreA).rfind(L'\\'))));
  machine.spooler.packages.clear();
  EXPECT_EQ(RemoveInventory(nullptr), 0);
  EXPECT_EQ(PackageList->removed, 1u);

  ForgetInventory();
  AddPackage(L"a", kStoreA);
  ScanAll();
  machine.FailNth(Seam::DeletePrinterDriverPackageW, static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), 1);
  EXPECT_EQ(RemoveInventory(nullptr), 1);
  EXPECT_EQ(PackageList->removed, 0u);
}

// The monitor DLL of an uninstall is deleted at the next start while a job
// prints, rather than in a stop that would print it again.
TEST_F(Removal, WhileAJobPrintsTheMonitorFileGoesAtTheNextStart) {
  AddQueue(L"Office", L"Other driver", L"LPT1:");
  machine.spooler.printers.back().jobs = {{1, JOB_STATUS_PRINTING}};
  EXPECT_EQ(DeleteMonitorFile(L"vlm6mon.dll"), 1);
  EXPECT_EQ(machine.CallCount(Seam::ControlService), 0);
  EXPECT_TRUE(RestartNeeded);
  machine.Restart();
  EXPECT_FALSE(Exists(monitor));
}

}  // namespace
