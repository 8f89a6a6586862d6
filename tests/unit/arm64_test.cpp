// Windows on ARM64 runs this x64 program emulated, and to the spooler a null
// environment is the caller's, x64. Every road names "Windows ARM64" and
// works in its printer-driver directory; nothing lands in the x64 one.
#include <gtest/gtest.h>

#include "app/entry.h"
#include "discovery/usb_printers.h"
#include "install/register_printer.h"
#include "tests/unit/install_support.h"
#include "uninstall/inventory.h"
#include "uninstall/removal.h"

namespace {

constexpr wchar_t kArm64[] = L"Windows ARM64";
constexpr wchar_t kDriver[] = L"Vellumor VL-K20";

class Arm64 : public PackageTest {
 protected:
  void SetUp() override {
    machine.module_path = package + L"setup.exe";
    machine.native_machine = IMAGE_FILE_MACHINE_ARM64;  // GetNativeSystemInfo tells AMD64
    ForgetInventory();
  }
  void TearDown() override {
    ForgetInventory();
    FreeUsbPrinterList(&UsbPrinterList);
    machine.EndProcess();  // the probe's inventory stays in the process's heap
  }
  std::string InUse(const std::wstring& environment, const wchar_t* file) const {
    return ReadRealFile(machine.spooler.DirectoryOf(environment) + L"\\3\\" + file);
  }
  const FakeDriver* Arm64Driver() { return machine.spooler.FindDriver(kDriver, kArm64); }
};

TEST_F(Arm64, InstallInventoryAndRemovalActOnTheArm64Environment) {
  AddUsbPrinter(machine, kDriver, 1);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), 0);
  ASSERT_NE(Arm64Driver(), nullptr);
  EXPECT_EQ(machine.spooler.FindDriver(kDriver, L"Windows x64"), nullptr);
  EXPECT_EQ(InUse(kArm64, L"vlm6drv6.dll"), "arm64 vlm6drv6.dll");
  EXPECT_EQ(InUse(L"Windows x64", L"vlm6drv6.dll"), "<none>");
  ASSERT_EQ(machine.spooler.monitors.size(), 1u);
  EXPECT_EQ(machine.spooler.monitors[0].environment, kArm64);
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "arm64 vlm6mon.dll");
  EXPECT_NE(machine.spooler.FindPrinter(kDriver), nullptr);

  ForgetInventory();
  ASSERT_TRUE(TakeInventory());
  ASSERT_NE(PackageList, nullptr);
  EXPECT_EQ(PackageList->driver_count, 1);
  EXPECT_FALSE(PackageList->store_path.empty()) << "the package of the ARM64 records";

  EXPECT_EQ(RemoveInventory(nullptr), 0);
  EXPECT_TRUE(machine.spooler.printers.empty());
  EXPECT_TRUE(machine.spooler.drivers.empty());
  EXPECT_TRUE(machine.spooler.monitors.empty());
  EXPECT_TRUE(machine.spooler.packages.empty());
}

TEST_F(Arm64, AnUpgradeActsOnTheArm64Driver) {
  const std::wstring old_store = std::wstring(FakeMachine::kStoreRoot) + L"vlm6v6.inf_arm64_0ld\\vlm6v6.inf";
  machine.registry.AddDriverPackage(kArm64, L"vlm6v6.inf_arm64_0ld", old_store);
  machine.StorePackage(old_store, L"01/16/2025,2025.1.16.1");
  FakeDriver driver;
  driver.name = kDriver;
  driver.environment = kArm64;
  driver.driver_path = L"vlm6drv6.dll";
  driver.monitor = kLanguageMonitorName;
  driver.inf_path = old_store;
  driver.version = 0x07E9000100100001;  // 2025.1.16.1
  machine.spooler.drivers.push_back(driver);
  machine.spooler.monitors.push_back({kLanguageMonitorName, L"vlm6mon.dll", kArm64});
  machine.spooler.printers.push_back({kDriver, L"USB001", kDriver});
  WriteRealFile(SystemFile(L"vlm6mon.dll"), "old");

  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence /timeout=5"), 0);
  ASSERT_NE(Arm64Driver(), nullptr);
  EXPECT_EQ(Arm64Driver()->version, GetDriverVersion());
  EXPECT_EQ(InUse(kArm64, L"vlm6drv6.dll"), "arm64 vlm6drv6.dll");
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "arm64 vlm6mon.dll");
  EXPECT_EQ(machine.spooler.packages.size(), 1u) << "the older package deleted";
  EXPECT_EQ(machine.spooler.printers.size(), 1u);
}

}  // namespace
