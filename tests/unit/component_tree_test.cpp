#include <gtest/gtest.h>

#include "common/package.h"
#include "common/string_table.h"
#include "resources/resource_ids.h"
#include "tests/unit/inventory_fixture.h"
#include "tests/unit/uninstall_window.h"
#include "uninstall/uninstall_dialog.h"

namespace {

class ComponentTree : public InventoryTest {
 public:
  UninstallWindow dialog;
  void SetUp() override {
    InventoryTest::SetUp();
    BoundedCopy(InstallDirectory, L"C:\\Tapstart\\");
  }
  std::vector<std::wstring> Fill() {
    FillComponentTree(dialog.window(), PackageList);
    return dialog.TreeLines();
  }
};

TEST_F(ComponentTree, EmptyInventoryIsOneLine) {
  ScanAll();
  EXPECT_EQ(Fill(), (std::vector<std::wstring>{L"Nothing need to be removed there"}));
}

TEST_F(ComponentTree, LinesOfEveryLevel) {
  AddPackage(L"a", kStoreA);
  AddDriver(L"Vellumor VL-K20", kStoreA).version = 0x07E9000800160001ull;  // 2025.8.22.1
  AddDriver(L"Vellumor VL-K21", kStoreA).version = 0xFFFF0000FFFF8000ull;
  AddQueue(L"Vellumor VL-K20", L"Vellumor VL-K20");
  AddQueue(L"Office", L"Vellumor VL-K20", L"USB002");
  ScanAll();
  const std::wstring package = std::wstring(L"+Driver Package:vlm6v6.inf, version:08/22/2025,2025.8.22.1, ") +
                               kStoreA + L", ";
  EXPECT_EQ(Fill(), (std::vector<std::wstring>{
                        L"The driver folder: C:\\Tapstart\\",
                        package,
                        L"  Printer Driver:Vellumor VL-K21, Vellumor, version:65535.0.65535.32768, ",
                        L"  +Printer Driver:Vellumor VL-K20, Vellumor, version:2025.8.22.1, ",
                        L"    Printer:Office on the port: USB002. ",
                        L"    Printer:Vellumor VL-K20 on the port: USB001. ",
                    }))
      << "packages and drivers with children expanded, lists in their order";

  // After a removal run the lines end with their status texts; a rebuild
  // starts from nothing.
  BoundedCopy(PackageList->status, L"Removed.");
  BoundedCopy(PackageList->drivers->next->queues->status, L"Failed. Error:5");
  const auto lines = Fill();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[1].substr(lines[1].size() - 10), L", Removed.");
  EXPECT_EQ(lines[4], L"    Printer:Office on the port: USB002. Failed. Error:5");
}

TEST_F(ComponentTree, NodesWithoutInformation) {
  AddDriver(L"Vellumor VL-K20").manufacturer.clear();  // package-less, no maker named
  ScanAll();
  // What a failed allocation leaves: a driver without information, a queue
  // without information.
  PrinterDriverNode lost = {};
  PrinterQueueNode lost_queue = {};
  lost.queues = &lost_queue;
  lost.next = PackageList->drivers;
  PackageList->drivers = &lost;
  const auto lines = Fill();
  PackageList->drivers = lost.next;
  EXPECT_EQ(lines, (std::vector<std::wstring>{
                       L"The driver folder: C:\\Tapstart\\",
                       L"+Printer driver list:",
                       L"  +No printer driver",
                       L"    No printer",
                       L"  Printer Driver:Vellumor VL-K20, , version:0.0.0.0, ",
                   }));
}

}  // namespace

namespace {

// A failed inventory says so where an empty one says that nothing is left.
TEST_F(ComponentTree, AFailedInventoryShowsTheFailureText) {
  machine.Fail(Seam::EnumPrinterDriversW, RPC_S_SERVER_UNAVAILABLE);
  EXPECT_FALSE(TakeInventory());
  WideText<1024> failed;
  LoadText(failed, IDS_UNINSTALL_FAILED);
  EXPECT_EQ(Fill(), std::vector<std::wstring>{failed.c_str()});
}

}  // namespace
