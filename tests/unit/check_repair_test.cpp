// "/check" and "/repair" as a fleet's tools run them: the check says what is
// wrong and changes nothing, the repair mends it and keeps every queue as it
// is, and after a repair that exits 0 the check exits 0.
#include <gtest/gtest.h>

#include <functional>

#include "app/entry.h"
#include "common/run_options.h"
#include "discovery/usb_printers.h"
#include "install/check_repair.h"
#include "install/install_worker.h"
#include "install/register_printer.h"
#include "tests/unit/install_support.h"
#include "uninstall/inventory.h"

namespace {

constexpr wchar_t kName[] = L"Vellumor VL-K20";

class CheckRepair : public PackageTest {
 protected:
  void SetUp() override {
    machine.module_path = package + L"setup.exe";
    WriteRealFile(machine.module_path, "this program");
    machine.spooler.ports.push_back(L"USB002");
    ForgetInventory();
  }
  void TearDown() override {
    ForgetInventory();
    FreeUsbPrinterList(&UsbPrinterList);
    RestartNeeded = false;
    EXPECT_EQ(machine.OpenHandleCount(), 0) << "every handle closed";
    // The inventory stays in the process's heap until it ends.
    machine.EndProcess();
  }

  // The family as the install leaves it, with a VL-K20 on USB001: its
  // package in the store, its driver from there, the monitor, and the queue.
  void InstallFamily() {
    machine.devices.usb_printers.clear();
    AddUsbPrinter(machine, kName, 1);
    ASSERT_EQ(InstallWorker(nullptr), 0u);
    FreeUsbPrinterList(&UsbPrinterList);
    machine.calls.clear();
    machine.debug_writes.clear();
    machine.load_driver_privilege_on = false;
  }
  int Run(const wchar_t* option) {
    ForgetInventory();
    return RunProgram(nullptr, (std::wstring(L"setup.exe ") + option).c_str());
  }
  // Calls that change the machine.
  int Changes() const {
    int n = 0;
    for (Seam fn : {Seam::AddPrinterW, Seam::SetPrinterW, Seam::DeletePrinter, Seam::AddPrinterDriverW,
                    Seam::AddPrinterDriverExW, Seam::InstallPrinterDriverFromPackageW, Seam::AddMonitorW,
                    Seam::UploadPrinterDriverPackageW, Seam::UpdateDriverForPlugAndPlayDevicesW, Seam::CopyFileW,
                    Seam::DeleteFileW, Seam::MoveFileExW, Seam::ControlService}) {
      n += machine.CallCount(fn);
    }
    return n;
  }
  std::vector<std::wstring> Problems() const { return TraceStarting(L"Problem: "); }
  // Whether one trace line begins with `start` and ends with `end`.
  bool Traced(const std::wstring& start, const std::wstring& end) const {
    for (const std::wstring& line : TraceStarting(start)) {
      if (EndsWith(line, end)) return true;
    }
    return false;
  }
};

TEST_F(CheckRepair, AHealthyInstallPassesEveryLineAndNothingIsChanged) {
  InstallFamily();
  EXPECT_EQ(Run(L"/check"), 0);
  EXPECT_EQ(Problems(), std::vector<std::wstring>{});
  for (const wchar_t* line :
       {L"OK: the print spooler runs.", L"OK: Windows protected print mode is off.",
        L"OK: printer driver Vellumor VL-K20 is registered for Windows x64, version 2025.8.22.1.",
        L"OK: the driver, configuration and data files of printer driver Vellumor VL-K20 are this package's.",
        L"OK: the language monitor Vellumor Language Monitor V6 is registered.",
        L"OK: Vellumor VL-K20 on USB001 prints through queue Vellumor VL-K20.",
        L"OK: no file of the driver waits for the next start.",
        L"OK: no copy of the uninstaller is left in the temporary folder.", L"Check: No problems."}) {
    EXPECT_EQ(TraceStarting(line).size(), 1u) << Narrow(line);
  }
  EXPECT_EQ(TraceStarting(L"OK: the package C:\\Windows\\System32\\DriverStore\\").size(), 1u);
  EXPECT_TRUE(Traced(L"OK: ", L"\\vlm6mon.dll is this package's."));
  EXPECT_EQ(Changes(), 0);
  EXPECT_TRUE(machine.processes.empty()) << "silent: no window, no other program";
}

// Each fault alone: the check names it and exits 1, the repair mends it and
// exits 0, and the check then exits 0.
TEST_F(CheckRepair, EachSingleFaultIsFoundThenMended) {
  struct Fault {
    const char* what;
    std::function<void()> make;
    const wchar_t* problem;
  };
  const std::vector<Fault> faults = {
      {"monitor DLL deleted", [&] { DeleteFileW(SystemFile(L"vlm6mon.dll").c_str()); }, L"\\vlm6mon.dll is missing."},
      {"monitor DLL changed", [&] { WriteRealFile(SystemFile(L"vlm6mon.dll"), "changed"); },
       L"\\vlm6mon.dll is not this package's."},
      {"driver file changed", [&] { WriteRealFile(DriverFile(L"3\\vlm6drv6ui.dll"), "changed"); },
       L"\\3\\vlm6drv6ui.dll of printer driver Vellumor VL-K20 is not this package's."},
      {"monitor unregistered", [&] { machine.spooler.monitors.clear(); },
       L"Problem: the language monitor Vellumor Language Monitor V6 is not registered."},
      {"queue deleted", [&] { machine.spooler.printers.clear(); }, L"Problem: Vellumor VL-K20 on USB001 has no queue."},
      {"printer moved",
       [&] {
         machine.devices.usb_printers.clear();
         AddUsbPrinter(machine, kName, 2);
       },
       L"Problem: Vellumor VL-K20 on USB002 has no queue; its queue Vellumor VL-K20 waits on USB001."},
      {"package gone from the store",
       [&] {
         RemoveRealTree(machine.RealPath(L"C:\\Windows\\System32\\DriverStore\\FileRepository"));
         machine.spooler.packages.clear();
       },
       L"Problem: no package of the family is in the driver store."},
      {"copy of the uninstaller left", [&] { WriteRealFile(machine.temp_directory + L"uni1.tmp", "this program"); },
       L"Problem: copies of the uninstaller are left in the temporary folder: 1."},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.what);
    ResetMachine();
    machine.spooler.ports.push_back(L"USB002");
    InstallFamily();
    fault.make();
    EXPECT_EQ(Run(L"/check"), kExitProblemFound);
    ASSERT_EQ(Problems().size(), 1u);
    EXPECT_TRUE(Traced(L"Problem: ", fault.problem)) << Narrow(Problems()[0]);
    EXPECT_EQ(TraceStarting(L"OK: ").size(), 9u) << "each thing looked at is one line, OK or not";
    machine.debug_writes.clear();
    EXPECT_EQ(Run(L"/repair"), 0);
    machine.debug_writes.clear();
    EXPECT_EQ(Run(L"/check"), 0);
    EXPECT_EQ(Problems(), std::vector<std::wstring>{});
    EXPECT_EQ(machine.spooler.printers.size(), 1u) << "no queue made beside it";
    DeleteFileW((machine.temp_directory + L"uni1.tmp").c_str());
  }
}

// A driver record that names no data file: the problem line names the file
// the package would put there, never a blank.
TEST_F(CheckRepair, AFileTheDriverDoesNotNameIsCalledByThePackagesName) {
  InstallFamily();
  machine.spooler.drivers.at(0).data_file.clear();
  EXPECT_EQ(Run(L"/check"), kExitProblemFound);
  EXPECT_TRUE(Traced(L"Problem: vlm6drv6.dat of printer driver Vellumor VL-K20", L" is missing."));
}

TEST_F(CheckRepair, ARepairOnAHealthyMachineChangesNoQueueAndNothingElse) {
  InstallFamily();
  FakePrinter& queue = machine.spooler.printers.at(0);
  queue.comment = L"Front desk";
  queue.attributes |= PRINTER_ATTRIBUTE_SHARED;
  queue.share_name = L"FrontDesk";
  const FakePrinter before = queue;
  EXPECT_EQ(Run(L"/repair"), 0);
  EXPECT_EQ(Changes(), 0);
  const FakePrinter& after = machine.spooler.printers.at(0);
  EXPECT_EQ(after.name + after.port + after.comment + after.share_name, before.name + before.port + before.comment +
                                                                            before.share_name);
  EXPECT_EQ(after.attributes, before.attributes);
  EXPECT_EQ(TraceStarting(L"Nothing to repair.").size(), 1u);
}

TEST_F(CheckRepair, WithNothingOfTheFamilyInstalledNeitherFindsAnything) {
  AddUsbPrinter(machine, kName, 1);
  EXPECT_EQ(Run(L"/check"), 0);
  EXPECT_EQ(TraceStarting(L"Check: Nothing of the family is installed.").size(), 1u);
  EXPECT_EQ(Run(L"/repair"), 0);
  EXPECT_EQ(TraceStarting(L"Nothing of the family is installed; nothing to repair.").size(), 1u);
  EXPECT_EQ(Changes(), 0);
}

TEST_F(CheckRepair, ADisabledSpoolerAndProtectedPrintModeStopTheCheckWithTheirCodes) {
  InstallFamily();
  machine.registry.SetDword(L"Software\\Policies\\Microsoft\\Windows NT\\Printers\\WPP",
                            L"WindowsProtectedPrintGroupPolicyState", 1);
  EXPECT_EQ(Run(L"/check"), static_cast<int>(kExitDriverBlocked));
  EXPECT_EQ(Problems(), std::vector<std::wstring>{L"Problem: Windows protected print mode is on."});
  EXPECT_EQ(Run(L"/repair"), static_cast<int>(kExitDriverBlocked));
  machine.debug_writes.clear();
  machine.services.Spooler().state = SERVICE_STOPPED;
  machine.services.Spooler().disabled = true;
  EXPECT_EQ(Run(L"/check"), ERROR_SERVICE_DISABLED);
  EXPECT_EQ(Problems(), std::vector<std::wstring>{L"Problem: the Spooler service is disabled."});
  EXPECT_EQ(Changes(), 0);
}

// As on Wine: the package's folder registered, no driver store, and a
// spooler that keeps no driver version.
TEST_F(CheckRepair, WithoutADriverStoreNoPackageIsLookedFor) {
  machine.Fail(Seam::UploadPrinterDriverPackageW, static_cast<DWORD>(E_NOTIMPL));
  InstallFamily();
  machine.spooler.FindDriver(kName)->version = 0;
  EXPECT_EQ(Run(L"/check"), 0);
  EXPECT_EQ(TraceStarting(L"OK: the driver store is not available here").size(), 1u);
  EXPECT_EQ(TraceStarting(L"OK: printer driver Vellumor VL-K20 is registered for Windows x64; the spooler keeps no "
                          L"version of it.")
                .size(),
            1u);
}

// A newer driver's files are another package's: the check does not call them
// changed, and so the repair never takes them back.
TEST_F(CheckRepair, ANewerDriverIsNotComparedWithThisPackage) {
  InstallFamily();
  machine.spooler.FindDriver(kName)->version = GetDriverVersion() + 1;
  WriteRealFile(DriverFile(L"3\\vlm6drv6.dll"), "newer");
  WriteRealFile(SystemFile(L"vlm6mon.dll"), "newer");
  EXPECT_EQ(Run(L"/check"), 0);
  EXPECT_EQ(Problems(), std::vector<std::wstring>{});
  EXPECT_EQ(TraceStarting(L"OK: printer driver Vellumor VL-K20 is registered for Windows x64, version 2025.8.22.2, "
                          L"newer than this package's.")
                .size(),
            1u);
  EXPECT_TRUE(Traced(L"OK: ", L"\\vlm6mon.dll is there; a newer version of the driver is installed, so it is not "
                              L"compared with this package's."));
  EXPECT_EQ(Run(L"/repair"), 0);
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "newer");
}

TEST_F(CheckRepair, AnOlderDriverIsAProblemTheRepairMends) {
  InstallFamily();
  machine.spooler.FindDriver(kName)->version = GetDriverVersion() - 1;
  EXPECT_EQ(Run(L"/check"), kExitProblemFound);
  EXPECT_EQ(Problems(), (std::vector<std::wstring>{L"Problem: printer driver Vellumor VL-K20 is version 2025.8.22.0, "
                                                   L"older than this package's 2025.8.22.1."}));
  EXPECT_EQ(Run(L"/repair"), 0);
  EXPECT_EQ(machine.spooler.FindDriver(kName)->version, GetDriverVersion());
}

// Only the next start mends it: 3010 from both, and the repair changes nothing.
TEST_F(CheckRepair, AFileWaitingForTheNextStartIsARestartAway) {
  InstallFamily();
  machine.registry.SetMultiString(L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                  L"PendingFileRenameOperations",
                                  {L"\\??\\" + DriverFile(L"3\\vlm6drv6.dll"), L""});
  EXPECT_EQ(Run(L"/check"), ERROR_SUCCESS_REBOOT_REQUIRED);
  ASSERT_EQ(Problems().size(), 1u);
  EXPECT_TRUE(EndsWith(Problems()[0], L"\\3\\vlm6drv6.dll waits for the next start to be replaced or deleted."));
  EXPECT_EQ(Run(L"/repair"), ERROR_SUCCESS_REBOOT_REQUIRED);
  EXPECT_EQ(Changes(), 0);
}

// A PowerShell script reads the summary from the standard output it gave.
TEST_F(CheckRepair, TheSummaryGoesToTheStandardOutputTheCallerGave) {
  InstallFamily();
  DeleteFileW(SystemFile(L"vlm6mon.dll").c_str());
  machine.devices.usb_printers.clear();
  AddUsbPrinter(machine, kName, 2);
  const std::wstring out = machine.temp_directory + L"out.txt";
  machine.std_output = CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(Run(L"/check"), kExitProblemFound);
  CloseHandle(machine.std_output);
  machine.std_output = nullptr;
  EXPECT_EQ(ReadRealFile(out),
            "2 problems: the monitor DLL is missing; Vellumor VL-K20 on USB002 has no queue\r\n");
}

}  // namespace
