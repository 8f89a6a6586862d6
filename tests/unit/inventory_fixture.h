// A fake machine with the driver family's traces on it, and a clean inventory
// for each test (the inventory is process-wide and its blocks belong to the
// machine of the test that built it).
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/fakes/fake_machine.h"
#include "uninstall/inventory.h"

class InventoryTest : public ::testing::Test {
 public:
  FakeMachine machine;

  void SetUp() override { ForgetInventory(); }
  void TearDown() override { ForgetInventory(); }

  // A package record for the x64 spooler, its INF known to the driver store.
  void AddPackage(const std::wstring& record, const std::wstring& store_path,
                  const std::wstring& version = L"08/22/2025,2025.8.22.1",
                  const std::wstring& environment = L"Windows x64") {
    machine.registry.AddDriverPackage(environment, record, store_path);
    machine.StorePackage(store_path, version);
  }
  FakeDriver& AddDriver(const std::wstring& name, const std::wstring& inf_path = L"",
                        const std::wstring& driver_path = L"C:\\spool\\vlm6drv6.dll") {
    FakeDriver driver;
    driver.name = name;
    driver.driver_path = driver_path;
    driver.inf_path = inf_path;
    driver.manufacturer = L"Vellumor";
    driver.monitor = L"Vellumor Language Monitor V6";
    machine.spooler.drivers.push_back(driver);
    return machine.spooler.drivers.back();
  }
  void AddQueue(const std::wstring& name, const std::wstring& driver, const std::wstring& port = L"USB001") {
    machine.spooler.printers.push_back({name, port, driver});
  }
  static void ScanAll() {
    ScanDriverPackages();
    ScanPrinterDrivers();
    ScanPrintQueues();
  }

  static std::vector<DriverPackageNode*> Packages() {
    std::vector<DriverPackageNode*> list;
    for (DriverPackageNode* p = PackageList; p != nullptr; p = p->next) list.push_back(p);
    return list;
  }
  static std::vector<PrinterDriverNode*> Drivers(const DriverPackageNode* package) {
    std::vector<PrinterDriverNode*> list;
    for (PrinterDriverNode* d = package->drivers; d != nullptr; d = d->next) list.push_back(d);
    return list;
  }
  static std::vector<PrinterQueueNode*> Queues(const PrinterDriverNode* driver) {
    std::vector<PrinterQueueNode*> list;
    for (PrinterQueueNode* q = driver->queues; q != nullptr; q = q->next) list.push_back(q);
    return list;
  }
  // Heap blocks the inventory keeps for the rest of the process.
  int InventoryBlocks() const {
    int blocks = (DriverInfoArray != nullptr) + (PrinterInfoArray != nullptr);
    for (DriverPackageNode* p : Packages()) {
      ++blocks;
      for (PrinterDriverNode* d : Drivers(p)) {
        ++blocks;
        blocks += static_cast<int>(machine.live_blocks.count(d->driver_info));
        blocks += static_cast<int>(Queues(d).size());
      }
    }
    return blocks;
  }
};

inline void MakeFile(const std::wstring& path) {
  std::ofstream out(std::string(path.begin(), path.end()), std::ios::binary);
  out << "x";
}

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// An install folder of ours, a real one (the uninstaller and the package
// INF), and the monitor DLL in the system folder.
class InstallFolderTest : public InventoryTest {
 public:
  std::wstring folder;   // ends with a backslash
  std::wstring monitor;

  void SetUp() override {
    InventoryTest::SetUp();
    folder = machine.temp_directory + L"Tapstart\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    MakeFile(folder + L"unins000.exe");
    MakeFile(folder + L"vlm6v6.inf");
    monitor = machine.system_directory + L"\\vlm6mon.dll";
    MakeFile(monitor);
  }
};

constexpr wchar_t kStoreA[] = L"C:\\Windows\\System32\\DriverStore\\FileRepository\\vlm6v6.inf_amd64_aaa\\vlm6v6.inf";
constexpr wchar_t kStoreB[] = L"C:\\Windows\\System32\\DriverStore\\FileRepository\\vlm6v6.inf_amd64_bbb\\vlm6v6.inf";
