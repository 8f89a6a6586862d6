// A silent run where the family is installed from an older package: the
// driver takes the new files in place, and its queue stays as it is.
#include <gtest/gtest.h>

#include "app/entry.h"
#include "common/run_options.h"
#include "discovery/usb_printers.h"
#include "install/register_printer.h"
#include "install/upgrade.h"
#include "tests/unit/install_support.h"
#include "uninstall/inventory.h"

namespace {

constexpr wchar_t kOldStore[] = L"C:\\Windows\\System32\\DriverStore\\FileRepository\\vlm6v6.inf_amd64_0ld\\vlm6v6.inf";
constexpr wchar_t kNewStore[] =
    L"C:\\Windows\\System32\\DriverStore\\FileRepository\\vlm6v6.inf_amd64_5c1e0b2a\\vlm6v6.inf";
constexpr wchar_t kDriver[] = L"Vellumor VL-K20";
constexpr uint64_t kOldVersion = 0x07E9000100100001;  // 2025.1.16.1

class Upgrade : public PackageTest {
 protected:
  void SetUp() override {
    machine.module_path = package + L"setup.exe";
    ForgetInventory();
  }
  void TearDown() override {
    ForgetInventory();
    FreeUsbPrinterList(&UsbPrinterList);
    SilentRun = false;
    RestartNeeded = false;
    EXPECT_EQ(machine.OpenHandleCount(), 0) << "every handle closed";
    // The probe's inventory stays in the process's heap until it ends.
    machine.EndProcess();
  }

  // The family as an older package left it: its package in the store, its
  // driver (with the language monitor) and that driver's files where the
  // spooler uses them, and one queue with a setting of its own.
  void InstallOldFamily(uint64_t version = kOldVersion, const wchar_t* store_ver = L"01/16/2025,2025.1.16.1") {
    machine.registry.AddDriverPackage(L"Windows x64", L"vlm6v6.inf_amd64_0ld", kOldStore);
    machine.StorePackage(kOldStore, store_ver);
    FakeDriver driver;
    driver.name = kDriver;
    driver.driver_path = L"vlm6drv6.dll";
    driver.config_file = L"vlm6drv6ui.dll";
    driver.data_file = L"vlm6drv6.dat";
    driver.dependent_files = {L"vlm6mon.dll"};
    driver.monitor = kLanguageMonitorName;
    driver.inf_path = kOldStore;
    driver.version = version;
    machine.spooler.drivers.push_back(driver);
    machine.spooler.monitors.push_back({kLanguageMonitorName, L"vlm6mon.dll"});
    machine.spooler.printers.push_back({kDriver, L"USB001", kDriver, L"winprint", L"RAW", PRINTER_ATTRIBUTE_SHARED});
    CreateDirectoryW(DriverFile(L"3").c_str(), nullptr);
    for (const wchar_t* file : {L"vlm6drv6.dll", L"vlm6drv6ui.dll", L"vlm6drv6.dat", L"vlm6mon.dll"}) {
      WriteRealFile(DriverFile(std::wstring(L"3\\") + file), "old");
    }
    WriteRealFile(SystemFile(L"vlm6mon.dll"), "old");
  }

  // A probe that cannot read the drivers finds nothing installed, and the
  // install's search for a printer is bounded.
  int Run() {
    const OsTable bound = os;  // a binding that failed leaves its stubs in the table
    const int code = RunProgram(nullptr, L"setup.exe /silence /timeout=5");
    os = bound;
    return code;
  }
  std::string InUse(const wchar_t* file) const { return ReadRealFile(DriverFile(std::wstring(L"3\\") + file)); }
  bool Upgraded() const {
    const FakeDriver* driver = const_cast<FakeMachine&>(machine).spooler.FindDriver(kDriver);
    return driver != nullptr && driver->version == GetDriverVersion();
  }
  int QueueCalls() const {
    return machine.CallCount(Seam::AddPrinterW) + machine.CallCount(Seam::DeletePrinter) +
           machine.CallCount(Seam::SetPrinterW);
  }
};

TEST_F(Upgrade, ANewerPackageReplacesTheDriversFilesAndKeepsTheQueue) {
  InstallOldFamily();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(machine.CallCount(Seam::InstallPrinterDriverFromPackageW, kDriver), 1) << "from the store's copy";
  EXPECT_EQ(machine.spooler.package_install_flags, static_cast<DWORD>(IPDFP_COPY_ALL_FILES));
  EXPECT_TRUE(Upgraded());
  EXPECT_EQ(InUse(L"vlm6drv6.dll"), "amd64 vlm6drv6.dll");
  EXPECT_EQ(InUse(L"vlm6drv6.dat"), "data");
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "amd64 vlm6mon.dll");
  EXPECT_EQ(machine.spooler.FindDriver(kDriver)->inf_path, kNewStore);
  EXPECT_EQ(QueueCalls(), 0);
  ASSERT_EQ(machine.spooler.printers.size(), 1u);
  EXPECT_EQ(machine.spooler.printers[0].attributes, static_cast<DWORD>(PRINTER_ATTRIBUTE_SHARED));
  EXPECT_EQ(machine.spooler.packages, std::vector<std::wstring>{kNewStore}) << "the old package deleted";
  EXPECT_EQ(machine.services.Spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(TraceStarting(L"Upgraded from version 2025.1.16.1 (DriverVer 01/16/2025,2025.1.16.1) to 2025.8.22.1").size(), 1u);
}

TEST_F(Upgrade, TheSameVersionChangesNothing) {
  InstallOldFamily(GetDriverVersion(), L"08/22/2025,2025.8.22.1");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(machine.CallCount(Seam::UploadPrinterDriverPackageW), 0);
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterDriverExW), 0);
  EXPECT_EQ(InUse(L"vlm6drv6.dll"), "old");
  EXPECT_EQ(TraceStarting(L"Already installed, version 2025.8.22.1 (DriverVer 08/22/2025,2025.8.22.1)").size(), 1u);
}

// Neither the driver's version nor the package's DriverVer is ever taken back.
TEST_F(Upgrade, ANewerVersionInstalledChangesNothing) {
  InstallOldFamily(GetDriverVersion() + 1, L"08/22/2025,2025.8.22.1");
  EXPECT_EQ(Run(), 0);
  ResetMachine();
  ForgetInventory();
  InstallOldFamily(GetDriverVersion(), L"09/01/2025,2025.9.1.1");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterDriverExW), 0);
  EXPECT_EQ(InUse(L"vlm6drv6.dll"), "old");
  EXPECT_EQ(TraceStarting(L"A newer version is installed: 2025.8.22.1 (DriverVer 09/01/2025,2025.9.1.1)").size(), 1u);
}

// Wine, and a spooler that kept no version: unknown counts as older.
TEST_F(Upgrade, AnUnknownVersionIsUpgraded) {
  InstallOldFamily(0, L"");
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(Upgraded());
}

// The program's driver version is the same, the INF beside it is later.
TEST_F(Upgrade, ALaterDriverVerAloneUpgrades) {
  InstallOldFamily(GetDriverVersion());
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(InUse(L"vlm6drv6ui.dll"), "amd64 vlm6drv6ui.dll");
}

TEST_F(Upgrade, AnAttachedPrinterWithoutAQueueGetsOne) {
  InstallOldFamily();
  machine.spooler.printers.clear();
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(Upgraded());
  EXPECT_NE(machine.spooler.FindPrinter(kDriver), nullptr);
}

TEST_F(Upgrade, APackageFileMissingTouchesNothing) {
  InstallOldFamily();
  DeleteFileW((package + L"dat\\vlm6drv6.dat").c_str());
  EXPECT_EQ(Run(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(Upgraded());
  EXPECT_EQ(ReadRealFile(DriverFile(L"vlm6drv6.dll")), "<none>") << "nothing staged";
  EXPECT_EQ(machine.CallCount(Seam::UploadPrinterDriverPackageW), 0);
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "old");
}

// Without the store (as on Wine) the folder's files are registered again,
// and the record names no INF: the spooler takes none from AddPrinterDriverEx.
TEST_F(Upgrade, WithoutTheStoreTheFolderFilesAreRegisteredWithoutAnInfPath) {
  InstallOldFamily();
  machine.Fail(Seam::UploadPrinterDriverPackageW, static_cast<DWORD>(E_NOTIMPL));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(machine.spooler.driver_add_flags, static_cast<DWORD>(APD_COPY_ALL_FILES));
  EXPECT_TRUE(Upgraded());
  EXPECT_EQ(InUse(L"vlm6drv6.dll"), "amd64 vlm6drv6.dll");
  EXPECT_TRUE(machine.spooler.FindDriver(kDriver)->inf_path.empty());
  EXPECT_EQ(machine.spooler.packages, std::vector<std::wstring>{kOldStore}) << "no new package: the old one stays";
}

// The registration would copy the old DLL beside the new files.
TEST_F(Upgrade, ADriverFileHeldOpenLeavesTheDriverAsItIs) {
  InstallOldFamily();
  machine.Fail(Seam::UploadPrinterDriverPackageW, static_cast<DWORD>(E_NOTIMPL));
  WriteRealFile(DriverFile(L"vlm6drv6.dll"), "old");
  machine.FailNth(Seam::DeleteFileW, ERROR_SHARING_VIOLATION, 1);
  machine.FailNth(Seam::CopyFileW, ERROR_SHARING_VIOLATION, 1);
  EXPECT_EQ(Run(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(machine.delayed_moves.size(), 1u);
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterDriverExW), 0);
  EXPECT_EQ(InUse(L"vlm6drv6ui.dll"), "old");
}

// Whatever call fails, the driver stays registered, with the old files or
// wholly with the new ones, the queue stays, and a failed upgrade says so.
TEST_F(Upgrade, AFailureAtAnyCallLeavesAWorkingDriver) {
  FailEachCall(
      [&] {
        ForgetInventory();
        InstallOldFamily();
        const int code = Run();
        ForgetInventory();
        FreeUsbPrinterList(&UsbPrinterList);
        RestartNeeded = false;
        SpoolerLeftStopped = ERROR_SUCCESS;
        // The process's heap goes with it.
        for (auto& [block, size] : machine.live_blocks) LocalFree(block);
        machine.live_blocks.clear();
        return code;
      },
      [&](int code) {
        ASSERT_NE(machine.spooler.FindDriver(kDriver), nullptr);
        EXPECT_EQ(InUse(L"vlm6drv6.dll"), Upgraded() ? "amd64 vlm6drv6.dll" : "old");
        if (code != 0 && code != ERROR_SUCCESS_REBOOT_REQUIRED) EXPECT_FALSE(Upgraded()) << "exit code " << code;
        EXPECT_EQ(machine.spooler.printers.size(), 1u);
        EXPECT_EQ(QueueCalls(), 0);
      });
}

TEST(DriverVerText, DateFirstThenVersion) {
  EXPECT_GT(ReadDriverVer(L"01/02/2026,1.0.0.0"), ReadDriverVer(L"12/31/2025,9.0.0.0"));
  EXPECT_GT(ReadDriverVer(L"08/22/2025,2025.8.22.2"), ReadDriverVer(L"08/22/2025, 2025.8.22.1"));
  EXPECT_EQ(ReadDriverVer(L"08/22/2025,2025.8.22.1"), ReadDriverVer(L"8/22/2025,2025.08.22.1"));
  EXPECT_EQ(ReadDriverVer(L"no version"), DriverVer{});
}

// Only an upgrade forces the package on the attached devices.
TEST_F(Upgrade, TheUpgradeForcesThePackageOnTheDevices) {
  InstallOldFamily();
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  machine.pnp.devices.push_back({L"usbprint\\vellumor vl-k20d5a5", kDriver, L"USB001", 0});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(machine.pnp.binding_flags & INSTALLFLAG_FORCE, static_cast<DWORD>(INSTALLFLAG_FORCE));
  EXPECT_TRUE(Upgraded());
}

// The package's version is its INF's DriverVer, not a number compiled into
// the program: a later INF upgrades a driver registered at the program's own.
TEST_F(Upgrade, TheInfsDriverVerIsThePackagesVersion) {
  InstallOldFamily(GetDriverVersion());
  machine.spooler.packages.clear();
  machine.registry.keys.clear();
  machine.spooler.drivers[0].inf_path.clear();
  WriteRealFile(InfPath(), "[Version]\r\nDriverVer=09/01/2025,2025.9.1.1\r\n");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(machine.spooler.FindDriver(kDriver)->version, 0x07E9000900010001ull) << "2025.9.1.1";
  EXPECT_EQ(TraceStarting(L"Installed version 2025.8.22.1 (DriverVer unknown) is older than this package's 2025.9.1.1").size(), 1u);
}

// A restart Plug and Play asks for while the files are staged is kept, and
// the upgrade exits 3010.
TEST_F(Upgrade, ARestartPlugAndPlayAskedForIsTheExitCode) {
  InstallOldFamily();
  machine.Fail(Seam::UploadPrinterDriverPackageW, static_cast<DWORD>(E_NOTIMPL));  // the folder's files
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  machine.pnp.devices.push_back({L"usbprint\\vellumor vl-k20d5a5", kDriver, L"USB001", 0});
  machine.pnp.wants_restart = true;
  EXPECT_EQ(Run(), ERROR_SUCCESS_REBOOT_REQUIRED);
  EXPECT_TRUE(Upgraded());
}

}  // namespace
