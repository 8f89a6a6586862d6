#include <gtest/gtest.h>

#include "tests/unit/inventory_fixture.h"
#include "uninstall/install_state.h"

namespace {

using Inventory = InventoryTest;

TEST_F(Inventory, PackagesAreFoundByTheInfNameWithRegardToCase) {
  AddPackage(L"a", kStoreA);
  // The name only in a folder's name counts too; in upper case it does not.
  AddPackage(L"b", L"C:\\Store\\vlm6v6.inf_amd64_ccc\\other.inf");
  AddPackage(L"c", L"C:\\Store\\VLM6V6.INF_amd64\\VLM6V6.INF");
  AddPackage(L"d", L"C:\\Store\\foreign.inf_amd64\\foreign.inf");
  ScanDriverPackages();

  const auto packages = Packages();
  ASSERT_EQ(packages.size(), 2u);
  // The reverse of the registry's order (a, b).
  EXPECT_STREQ(packages[0]->store_path.c_str(), L"C:\\Store\\vlm6v6.inf_amd64_ccc\\other.inf");
  EXPECT_STREQ(packages[0]->inf_name.c_str(), L"other.inf");
  EXPECT_STREQ(packages[1]->store_path.c_str(), kStoreA);
  EXPECT_STREQ(packages[1]->inf_name.c_str(), L"vlm6v6.inf");
  EXPECT_STREQ(packages[1]->version.c_str(), L"08/22/2025,2025.8.22.1");
  EXPECT_EQ(packages[1]->driver_count, 0);
  EXPECT_EQ(machine.OpenHandleCount(), 0);
  EXPECT_EQ(machine.LiveBlocks(), 2) << "the INF information blocks are released";
}

TEST_F(Inventory, EachArchitectureReadsItsOwnRecords) {
  const struct {
    WORD architecture;
    const wchar_t* environment;
  } table[] = {{PROCESSOR_ARCHITECTURE_INTEL, L"Windows NT x86"},
               {PROCESSOR_ARCHITECTURE_ARM, L"Windows ARM"},
               {PROCESSOR_ARCHITECTURE_AMD64, L"Windows x64"},
               {PROCESSOR_ARCHITECTURE_ARM64, L"Windows ARM64"}};
  for (const auto& row : table) {
    AddPackage(row.environment, std::wstring(L"C:\\Store\\") + row.environment + L"\\vlm6v6.inf", L"",
               row.environment);
  }
  for (const auto& row : table) {
    ForgetInventory();
    machine.native_architecture = row.architecture;
    ScanDriverPackages();
    ASSERT_EQ(Packages().size(), 1u) << row.environment;
    EXPECT_EQ(Packages()[0]->store_path.c_str(),
              std::wstring(L"C:\\Store\\") + row.environment + L"\\vlm6v6.inf");
    EXPECT_TRUE(Packages()[0]->version.empty()) << "a missing DriverVer leaves the text empty";
  }
}

TEST_F(Inventory, UnknownArchitectureFindsNoPackagesButStillFindsDrivers) {
  machine.native_architecture = PROCESSOR_ARCHITECTURE_IA64;
  AddPackage(L"a", kStoreA);
  AddDriver(L"Vellumor VL-K20");
  AddQueue(L"Vellumor VL-K20", L"Vellumor VL-K20");
  ScanAll();
  EXPECT_EQ(machine.CallCount(Seam::RegOpenKeyW), 0);
  const auto packages = Packages();
  ASSERT_EQ(packages.size(), 1u);
  EXPECT_TRUE(packages[0]->store_path.empty()) << "a package-less node";
  ASSERT_EQ(Drivers(packages[0]).size(), 1u);
  EXPECT_EQ(Queues(Drivers(packages[0])[0]).size(), 1u);
}

TEST_F(Inventory, DriverFamilyAndQueueMatchRegardCase) {
  AddDriver(L"Other", L"", L"C:\\spool\\VLM6DRV6.DLL");
  AddDriver(L"Vellumor VL-K20");
  AddQueue(L"upper", L"VELLUMOR VL-K20");
  AddQueue(L"exact", L"Vellumor VL-K20");
  ScanAll();
  const auto packages = Packages();
  ASSERT_EQ(packages.size(), 1u);
  const auto drivers = Drivers(packages[0]);
  ASSERT_EQ(drivers.size(), 1u);
  EXPECT_STREQ(drivers[0]->driver_info->pName, L"Vellumor VL-K20");
  const auto queues = Queues(drivers[0]);
  ASSERT_EQ(queues.size(), 1u);
  EXPECT_STREQ(queues[0]->queue_info->pPrinterName, L"exact");
  EXPECT_EQ(drivers[0]->queue_count, 1);
}

TEST_F(Inventory, OneDriverUnderTwoPackagesAndItsQueueUnderBoth) {
  AddPackage(L"a", kStoreA);
  AddPackage(L"b", kStoreB);
  AddDriver(L"Vellumor VL-K20", kStoreA);
  AddQueue(L"Vellumor VL-K20", L"Vellumor VL-K20");
  ScanAll();
  const auto packages = Packages();
  ASSERT_EQ(packages.size(), 2u);
  PrinterDriverNode* first = nullptr;
  for (DriverPackageNode* package : packages) {
    EXPECT_EQ(package->driver_count, 1);
    const auto drivers = Drivers(package);
    ASSERT_EQ(drivers.size(), 1u);
    EXPECT_EQ(drivers[0]->queue_count, 1);
    EXPECT_EQ(Queues(drivers[0]).size(), 1u);
    EXPECT_NE(drivers[0], first) << "each package has a node of its own";
    first = drivers[0];
  }
  EXPECT_EQ(machine.LiveBlocks(), InventoryBlocks());
}

TEST_F(Inventory, DriverWithoutPackagesMakesANodeOfItsOwn) {
  // Without INF path: a package-less node; a later driver with one fills it.
  AddDriver(L"Vellumor VL-K20");
  AddDriver(L"Vellumor VL-K21", kStoreA);
  ScanPrinterDrivers();
  auto packages = Packages();
  ASSERT_EQ(packages.size(), 1u);
  EXPECT_STREQ(packages[0]->store_path.c_str(), kStoreA);
  EXPECT_TRUE(packages[0]->inf_name.empty());
  EXPECT_TRUE(packages[0]->version.empty());
  EXPECT_EQ(packages[0]->driver_count, 2);
  const auto drivers = Drivers(packages[0]);
  ASSERT_EQ(drivers.size(), 2u);
  EXPECT_STREQ(drivers[0]->driver_info->pName, L"Vellumor VL-K21") << "newest first";
  EXPECT_EQ(drivers[1]->driver_info, DriverInfoArray)
      << "the package-less node holds the array entry itself";

  // With an INF path and nothing else: one node with that store path.
  ForgetInventory();
  machine.spooler.drivers.erase(machine.spooler.drivers.begin());
  ScanPrinterDrivers();
  packages = Packages();
  ASSERT_EQ(packages.size(), 1u);
  EXPECT_STREQ(packages[0]->store_path.c_str(), kStoreA);
  EXPECT_EQ(packages[0]->driver_count, 1);
}

TEST_F(Inventory, ProbeVerdict) {
  EXPECT_EQ(ProbeInstallState(), InstallState::kNotInstalled) << "nothing at all";
  ForgetInventory();
  AddPackage(L"a", kStoreA);
  EXPECT_EQ(ProbeInstallState(), InstallState::kNotInstalled) << "a package without driver";
  EXPECT_EQ(machine.CallCount(Seam::EnumPrintersW), 0) << "the probe lists no queues";
  ForgetInventory();
  AddDriver(L"Vellumor VL-K20", L"", L"C:\\spool\\other.dll");
  EXPECT_EQ(ProbeInstallState(), InstallState::kNotInstalled) << "a driver of another family";
  ForgetInventory();
  AddDriver(L"Vellumor VL-K20");
  EXPECT_EQ(ProbeInstallState(), InstallState::kInstalled);
}

TEST_F(Inventory, UnreadableRecordsAreSkipped) {
  AddPackage(L"a", kStoreA);
  AddPackage(L"b", kStoreB);
  AddPackage(L"c", L"C:\\Store\\x\\vlm6v6.inf");
  // Record b's value cannot be read: no second node with a's path.
  machine.FailNth(Seam::RegGetValueW, ERROR_MORE_DATA, 2);
  ScanDriverPackages();
  auto packages = Packages();
  ASSERT_EQ(packages.size(), 2u);
  EXPECT_STREQ(packages[0]->store_path.c_str(), L"C:\\Store\\x\\vlm6v6.inf");
  EXPECT_STREQ(packages[1]->store_path.c_str(), kStoreA);

  // A record that cannot be opened is skipped too.
  ForgetInventory();
  machine.FailNth(Seam::RegOpenKeyW, ERROR_ACCESS_DENIED, 3);  // the key, a, then b
  ScanDriverPackages();
  EXPECT_EQ(Packages().size(), 2u);
  EXPECT_EQ(machine.OpenHandleCount(), 0);
}

TEST_F(Inventory, TooLongTextsLeaveTheirFieldsEmpty) {
  const std::wstring long_name = L"C:\\Store\\" + std::wstring(60, L'n') + L"vlm6v6.inf";
  AddPackage(L"a", long_name, std::wstring(60, L'9'));
  ScanDriverPackages();
  ASSERT_EQ(Packages().size(), 1u);
  EXPECT_STREQ(Packages()[0]->store_path.c_str(), long_name.c_str());
  EXPECT_TRUE(Packages()[0]->inf_name.empty());
  EXPECT_TRUE(Packages()[0]->version.empty());
}

// Every call of the scans fails once in turn: no crash, every key closed, and
// every heap block still held belongs to the inventory.
TEST(InventoryFaults, EveryCallOfTheScansMayFail) {
  Seam functions[] = {Seam::RegOpenKeyW, Seam::RegEnumKeyW, Seam::RegGetValueW, Seam::SetupGetInfInformationW,
                             Seam::SetupQueryInfVersionInformationW, Seam::LocalAlloc, Seam::EnumPrinterDriversW,
                             Seam::EnumPrintersW};
  for (Seam function : functions) {
    for (int nth = 1; nth <= 12; ++nth) {
      struct Case : InventoryTest {
        void TestBody() override {}
      } t;
      t.SetUp();
      t.AddPackage(L"a", kStoreA);
      t.AddPackage(L"b", kStoreB);
      t.AddDriver(L"Vellumor VL-K20", kStoreA);
      t.AddDriver(L"Vellumor VL-K21");
      t.AddQueue(L"Vellumor VL-K20", L"Vellumor VL-K20");
      t.AddQueue(L"Vellumor VL-K21", L"Vellumor VL-K21");
      t.machine.FailNth(function, ERROR_NOT_ENOUGH_MEMORY, nth);
      InventoryTest::ScanAll();
      EXPECT_EQ(t.machine.OpenHandleCount(), 0) << function << " " << nth;
      EXPECT_EQ(t.machine.LiveBlocks(), t.InventoryBlocks()) << function << " " << nth;
      for (DriverPackageNode* p : InventoryTest::Packages()) {
        int counted = 0;
        for (PrinterDriverNode* d : InventoryTest::Drivers(p)) counted += d->driver_info != nullptr;
        EXPECT_EQ(p->driver_count, counted) << function << " " << nth;
      }
      t.TearDown();
    }
  }
}

// A queue Plug and Play makes between the size query and the fetch: the
// spooler answers the fetch as a size query, and the list is asked again.
BOOL WINAPI EnumPrintersWhileAQueueAppears(DWORD flags, LPWSTR name, DWORD level, LPBYTE buffer, DWORD size,
                                           LPDWORD needed, LPDWORD returned) {
  FakeMachine& m = Fake();
  if (buffer != nullptr && m.spooler.printers.size() == 1) m.spooler.printers.push_back({L"New", L"USB002", L"Vellumor VL-K20"});
  return SwapSeam<&OsTable::EnumPrintersW>::Previous()(flags, name, level, buffer, size, needed, returned);
}

TEST_F(Inventory, AQueueMadeWhileTheListIsReadIsListedToo) {
  AddDriver(L"Vellumor VL-K20");
  AddQueue(L"Vellumor VL-K20", L"Vellumor VL-K20");
  SwapSeam<&OsTable::EnumPrintersW> growing(EnumPrintersWhileAQueueAppears);
  EXPECT_TRUE(TakeInventory());
  ASSERT_NE(PackageList, nullptr);
  EXPECT_EQ(PackageList->drivers->queue_count, 2);
}

}  // namespace
