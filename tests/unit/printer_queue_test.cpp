// A printer's queue is the family's queue on its port: a printer plugged into
// another socket takes its queue with it, a second printer of a model gets a
// queue of its own, a renamed queue is still the printer's, and another
// driver's queue on the port is left alone.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/entry.h"
#include "discovery/usb_printers.h"
#include "install/install_printer.h"
#include "install/install_worker.h"
#include "tests/unit/install_support.h"
#include "uninstall/inventory.h"

namespace {

constexpr wchar_t kName[] = L"Vellumor VL-K20";

class PrinterQueueTest : public PackageTest {
 protected:
  void SetUp() override {
    machine.spooler.ports.push_back(L"USB002");
    FakeDriver driver;
    driver.name = kName;
    driver.driver_path = L"vlm6drv6.dll";
    machine.spooler.drivers.push_back(driver);
  }
  void TearDown() override {
    FreeUsbPrinterList(&UsbPrinterList);
    PackageTest::TearDown();
  }
  // The printers attached now, as a scan sees them.
  void Attach(std::initializer_list<DWORD> ports) {
    for (DWORD port : ports) AddUsbPrinter(machine, kName, port);
    EnumerateUsbPrinters(&UsbPrinterList);
  }
  FakePrinter& Queue(const std::wstring& name, const std::wstring& port, const std::wstring& driver = kName) {
    machine.spooler.printers.push_back({name, port, driver});
    return machine.spooler.printers.back();
  }
  int Install(const wchar_t* port) {
    request = Request(kName, 0x11, port);
    return InstallPrinter(&request, InfPath().c_str(), &error);
  }
  PrinterInstallRequest request = {};
  DWORD error = ERROR_SUCCESS;
};

TEST_F(PrinterQueueTest, APrinterOnAnotherPortTakesItsQueueWithEverythingSetOnIt) {
  FakePrinter& queue = Queue(kName, L"USB001");
  queue.comment = L"Front desk";
  queue.location = L"Second floor";
  queue.share_name = L"FrontDesk";
  queue.attributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_SHARED;
  DEVMODEW settings = {};
  settings.dmSize = sizeof(settings);
  settings.dmFields = DM_PAPERSIZE;
  settings.dmPaperSize = DMPAPER_A5;
  queue.devmode.assign(reinterpret_cast<BYTE*>(&settings), reinterpret_cast<BYTE*>(&settings) + sizeof(settings));
  const FakePrinter before = queue;
  Attach({2});
  EXPECT_EQ(Install(L"USB002"), 1);
  ASSERT_EQ(machine.spooler.printers.size(), 1u) << "no second queue";
  const FakePrinter& moved = machine.spooler.printers[0];
  EXPECT_EQ(moved.port, L"USB002");
  EXPECT_EQ(moved.name, before.name);
  EXPECT_EQ(moved.comment, before.comment);
  EXPECT_EQ(moved.location, before.location);
  EXPECT_EQ(moved.share_name, before.share_name);
  EXPECT_EQ(moved.attributes, before.attributes);
  EXPECT_EQ(moved.devmode, before.devmode);
  EXPECT_EQ(machine.spooler.security_writes, 0) << "its permissions are left as they are";
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterW) + machine.CallCount(Seam::UploadPrinterDriverPackageW), 0);
  EXPECT_EQ(TraceStarting(L"The printer Vellumor VL-K20 moved from USB001 to USB002: its queue Vellumor VL-K20 moved "
                          L"with it")
                .size(),
            1u);
}

// The second printer of a model, plugged into another socket, takes its own
// copy's queue; another queue whose name only begins like it stays.
TEST_F(PrinterQueueTest, ASecondPrintersCopyQueueGoesWithIt) {
  Queue(kName, L"USB001");
  Queue(kName + std::wstring(L" (Copy 2x)"), L"USB004");
  Queue(kName + std::wstring(L" (Copy 19)"), L"USB003");
  Attach({1, 2});
  EXPECT_EQ(Install(L"USB002"), 1);
  EXPECT_EQ(machine.spooler.printers[0].port, L"USB001") << "its printer is attached";
  EXPECT_EQ(machine.spooler.printers[1].port, L"USB004");
  EXPECT_EQ(machine.spooler.printers[2].port, L"USB002");
}

// The spooler refuses a port it does not know: the install says it failed.
TEST_F(PrinterQueueTest, AMoveTheSpoolerRefusesIsNoSuccess) {
  Queue(kName, L"USB001");
  machine.spooler.ports = {L"USB001"};
  machine.Fail(Seam::UploadPrinterDriverPackageW, static_cast<DWORD>(E_NOTIMPL));
  Attach({3});
  EXPECT_EQ(Install(L"USB003"), 0);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_UNKNOWN_PORT));
  EXPECT_EQ(machine.spooler.printers[0].port, L"USB001");
}

// A queue whose record cannot be read stays where it is, the read's error is
// traced, and the printer gets a queue of its own.
TEST_F(PrinterQueueTest, AQueueWhoseRecordCannotBeReadStaysAndTheErrorIsTraced) {
  Queue(kName, L"USB001");
  machine.Fail(Seam::GetPrinterW, ERROR_ACCESS_DENIED);
  Attach({2});
  EXPECT_EQ(Install(L"USB002"), 1);
  EXPECT_EQ(machine.spooler.printers.at(0).port, L"USB001");
  EXPECT_EQ(machine.spooler.printers.at(1).port, L"USB002");
  const std::vector<std::wstring> trace = machine.TraceLines();
  EXPECT_NE(std::find(trace.begin(), trace.end(),
                      L"The queue Vellumor VL-K20 could not be moved from USB001 to USB002, error:5; a queue is made "
                      L"for the printer."),
            trace.end());
}

TEST_F(PrinterQueueTest, TwoPrintersOfOneModelGetTwoQueues) {
  Attach({1, 2});
  machine.spooler.drivers.clear();
  EXPECT_EQ(InstallWorker(nullptr), 0u);
  ASSERT_EQ(machine.spooler.printers.size(), 2u);
  std::vector<std::wstring> names;
  std::vector<std::wstring> ports;
  for (const FakePrinter& q : machine.spooler.printers) {
    names.push_back(q.name);
    ports.push_back(q.port);
  }
  std::sort(names.begin(), names.end());
  std::sort(ports.begin(), ports.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Vellumor VL-K20", L"Vellumor VL-K20 (Copy 1)"}));
  EXPECT_EQ(ports, (std::vector<std::wstring>{L"USB001", L"USB002"}));
}

// Every name is taken by queues of another driver: no queue of another
// printer is taken for this one's.
TEST_F(PrinterQueueTest, WithNoNameFreeTheInstallFails) {
  Queue(kName, L"LPT1:", L"Other");
  for (int copy = 1; copy <= 99; ++copy) {
    Queue(kName + std::wstring(L" (Copy ") + std::to_wstring(copy) + L")", L"LPT1:", L"Other");
  }
  Attach({2});
  EXPECT_EQ(Install(L"USB002"), 0);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PRINTER_ALREADY_EXISTS));
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterW), 0);
}

// The queue on the printer's port is its queue whatever it is called.
TEST_F(PrinterQueueTest, ARenamedQueueIsStillThePrintersQueue) {
  Queue(L"Front desk", L"USB001");
  Attach({1});
  EXPECT_EQ(Install(L"USB001"), 3);
  EXPECT_EQ(machine.spooler.printers.size(), 1u);
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterW) + machine.CallCount(Seam::SetPrinterW), 0);
}

TEST_F(PrinterQueueTest, AnotherDriversQueueOnThePortIsLeftAndTraced) {
  FakeDriver other;
  other.name = L"Generic / Text Only";
  other.driver_path = L"unidrv.dll";
  machine.spooler.drivers.push_back(other);
  Queue(L"Labels", L"USB001", other.name);
  Attach({1});
  EXPECT_EQ(Install(L"USB001"), 1);
  ASSERT_EQ(machine.spooler.printers.size(), 2u);
  EXPECT_EQ(machine.spooler.printers[0].name + L"|" + machine.spooler.printers[0].driver,
            L"Labels|Generic / Text Only");
  EXPECT_EQ(machine.spooler.printers[1].name + L"|" + machine.spooler.printers[1].port, L"Vellumor VL-K20|USB001");
  EXPECT_EQ(TraceStarting(L"USB001 is served by queue Labels with driver Generic / Text Only; left as it is.").size(), 1u);
}

// Started by hand where the family is installed, the program is the
// installer while an attached printer has no queue, the uninstaller otherwise.
TEST_F(PrinterQueueTest, ByHandAPrinterWithoutItsQueueGetsTheInstaller) {
  machine.module_path = package + L"setup.exe";
  Queue(kName, L"USB001");
  AddUsbPrinter(machine, kName, 2);
  EXPECT_EQ(SelectRunMode(ParseCommandLine(L"setup.exe ")), RunMode::kInstallDialog);
  ForgetInventory();
  machine.devices.usb_printers.clear();
  AddUsbPrinter(machine, kName, 1);
  EXPECT_EQ(SelectRunMode(ParseCommandLine(L"setup.exe ")), RunMode::kStartUninstaller);
  // The probe's inventory goes with the process.
  machine.EndProcess();
  ForgetInventory();
  UsbPrinterList = nullptr;
}

}  // namespace
