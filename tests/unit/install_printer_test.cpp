// The per-printer install: upload, Plug and Play binding, waiting for the
// queue, direct registration as fallback and the spooler restart for a new port.
#include <gtest/gtest.h>

#include "discovery/usb_printers.h"
#include "install/install_printer.h"
#include "tests/unit/install_support.h"

namespace {

constexpr wchar_t kHardwareId[] = L"usbprint\\vellumor vl-k20d5a5";
constexpr wchar_t kName[] = L"Vellumor VL-K20";

class InstallPrinterTest : public PackageTest {
 protected:
  // A device that Plug and Play makes a queue for, `after_ms` after the binding.
  void AttachDevice(DWORD after_ms, const wchar_t* port = L"USB001") {
    machine.pnp.devices.push_back({kHardwareId, kName, port, after_ms});
  }
  int Install(uint8_t flags = 0x11) {
    request = Request(kName, flags);
    return InstallPrinter(&request, InfPath().c_str());
  }
  int Pauses(DWORD ms) const { return static_cast<int>(std::count(machine.sleeps.begin(), machine.sleeps.end(), ms)); }
  int Restarts() const { return machine.CallCount(Seam::ControlService); }

  PrinterInstallRequest request = {};
};

TEST_F(InstallPrinterTest, TheFamilysQueueOnThePortIsLeftAlone) {
  FakeDriver driver;
  driver.name = kName;
  driver.driver_path = L"vlm6drv6.dll";
  machine.spooler.drivers.push_back(driver);
  machine.spooler.printers.push_back({kName, L"USB001", kName});
  EXPECT_EQ(Install(), 3);
  for (Seam fn : {Seam::UploadPrinterDriverPackageW, Seam::CM_Locate_DevNodeW, Seam::UpdateDriverForPlugAndPlayDevicesW,
                         Seam::CopyFileW, Seam::OpenSCManagerW, Seam::EnumPortsW, Seam::AddPrinterW, Seam::SetPrinterW}) {
    EXPECT_EQ(machine.CallCount(fn), 0) << fn;
  }
}

TEST_F(InstallPrinterTest, TheQueueSeenAtTheThirdCheckGetsTheMonitorOnce) {
  AttachDevice(2000);
  EXPECT_EQ(Install(), 1);
  EXPECT_EQ(machine.pnp.bindings.size(), 1u);
  EXPECT_EQ(machine.pnp.bindings[0].second, InfPath()) << "the INF beside the tool, not the store copy";
  EXPECT_EQ(machine.devices.reenumerations, 1);
  EXPECT_EQ(Pauses(1000), 2);
  EXPECT_EQ(machine.CallCount(Seam::CopyFileW, DriverFile(L"vlm6mon.dll")), 1);
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "amd64 vlm6mon.dll");
  EXPECT_EQ(Restarts(), 0) << "the first monitor needs none, and USB001 is listed";
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterW) + machine.CallCount(Seam::AddPrinterDriverW), 0);
  EXPECT_EQ(TraceStarting(L"DoUploadDriverPackage, C:\\Windows\\System32\\DriverStore\\").size(), 1u);
  EXPECT_TRUE(EndsWith(TraceStarting(L"DoUploadDriverPackage").at(0), L"\\vlm6v6.inf, code:0 (0x00000000)."));
}

TEST_F(InstallPrinterTest, AModelWithoutMonitorWaitsTheWholeTime) {
  AttachDevice(0);
  EXPECT_EQ(Install(0x01), 1);
  EXPECT_EQ(Pauses(1000), 10);
  EXPECT_EQ(machine.CallCount(Seam::CopyFileW), 0);
  EXPECT_EQ(Restarts(), 0);
}

TEST_F(InstallPrinterTest, AFailedUploadGoesStraightToTheDirectRegistration) {
  machine.Fail(Seam::UploadPrinterDriverPackageW, static_cast<DWORD>(E_NOTIMPL));
  AttachDevice(0);
  EXPECT_EQ(Install(), 1);
  EXPECT_EQ(TraceStarting(L"DoUploadDriverPackage"),
            (std::vector<std::wstring>{L"DoUploadDriverPackage, , code:2147500033 (0x80004001)."}));
  for (Seam fn : {Seam::CM_Locate_DevNodeW, Seam::CM_Reenumerate_DevNode, Seam::UpdateDriverForPlugAndPlayDevicesW}) {
    EXPECT_EQ(machine.CallCount(fn), 0) << fn;
  }
  EXPECT_EQ(Pauses(1000), 0) << "no wait for Plug and Play";
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterW), 1);
  EXPECT_NE(machine.spooler.FindPrinter(kName), nullptr);
}

TEST_F(InstallPrinterTest, AMissingPortRestartsTheSpoolerAndTheResultStays) {
  AttachDevice(0);
  machine.spooler.ports = {L"COM1:", L"usb001"};  // listed in other letter case only
  EXPECT_EQ(Install(), 1);
  EXPECT_EQ(Restarts(), 1) << "for the port: the first monitor needs none";
  EXPECT_EQ(machine.services.Spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(Pauses(200), 0) << "the plain restart runs no action";
  EXPECT_EQ(TraceStarting(L"Port USB001 not listed, restarting the spooler.").size(), 1u);
}

TEST_F(InstallPrinterTest, AFailedRegistrationEndsWithoutPortCheck) {
  // No device to bind: the wait sees nothing; Windows cannot install from the
  // store, and the data file of the folder cannot be copied (after the
  // monitor, the driver and its configuration), so there is no driver, and
  // the queue cannot be added without it.
  machine.Fail(Seam::InstallPrinterDriverFromPackageW, ERROR_PROC_NOT_FOUND);
  machine.FailNth(Seam::CopyFileW, ERROR_ACCESS_DENIED, 4);
  EXPECT_EQ(Install(), 0);
  EXPECT_EQ(Pauses(1000), 10 + 5);
  EXPECT_EQ(TraceStarting(L"AddPrinter Vellumor VL-K20 failed, errcode:1797.").size(), 1u);
  EXPECT_EQ(machine.CallCount(Seam::EnumPortsW), 0);
  EXPECT_EQ(Restarts(), 0) << "the first monitor needs none";
}

TEST_F(InstallPrinterTest, TheHardwareIdComesFromTheFirstDeviceOnThePort) {
  UsbPrinterDevice first = {};
  UsbPrinterDevice second = {};
  UsbPrinterDevice other = {};
  other.next = &first;
  first.next = &second;
  BoundedCopy(other.port_name, L"USB002");
  BoundedCopy(other.hardware_id, L"usbprint\\other");
  BoundedCopy(first.port_name, L"USB001");
  BoundedCopy(first.hardware_id, kHardwareId);
  BoundedCopy(second.port_name, L"USB001");
  BoundedCopy(second.hardware_id, L"usbprint\\second");
  UsbPrinterDevice* saved = UsbPrinterList;
  UsbPrinterList = &other;
  AttachDevice(0);
  request = Request(kName, 0x11);
  BoundedCopy(request.hardware_id, L"usbprint\\stale");
  EXPECT_EQ(InstallPrinter(&request, InfPath().c_str()), 1);
  EXPECT_STREQ(request.hardware_id.chars, kHardwareId);
  EXPECT_EQ(machine.CallCount(Seam::UpdateDriverForPlugAndPlayDevicesW, kHardwareId), 1);

  // No device on the port: the request keeps its own.
  BoundedCopy(first.port_name, L"usb001");
  BoundedCopy(second.port_name, L"USB003");
  request = Request(L"Vellumor VL-K21", 0x11);
  BoundedCopy(request.hardware_id, L"usbprint\\kept");
  InstallPrinter(&request, InfPath().c_str());
  EXPECT_STREQ(request.hardware_id.chars, L"usbprint\\kept");
  UsbPrinterList = saved;
}

TEST_F(InstallPrinterTest, UploadDetails) {
  static ULONG capacity_seen;
  static DWORD flags_seen;
  os.UploadPrinterDriverPackageW = [](LPCWSTR, LPCWSTR, LPCWSTR environment, DWORD flags, HWND, LPWSTR dest,
                                      PULONG capacity) -> HRESULT {
    capacity_seen = *capacity;
    flags_seen = flags;
    EXPECT_STREQ(environment, L"Windows x64") << "the machine's, named";
    for (ULONG i = 0; i < *capacity; ++i) EXPECT_EQ(dest[i], L'\0') << "a zero-filled destination";
    return S_FALSE;
  };
  EXPECT_EQ(DoUploadDriverPackage(InfPath().c_str()), 0) << "only S_OK counts";
  EXPECT_EQ(capacity_seen, 260u);
  EXPECT_EQ(flags_seen, 2u);
  EXPECT_EQ(TraceStarting(L"DoUploadDriverPackage"), (std::vector<std::wstring>{L"DoUploadDriverPackage, , code:1 (0x00000001)."}));

  // A store path that fills the whole buffer is traced cut at the field's end.
  os.UploadPrinterDriverPackageW = [](LPCWSTR, LPCWSTR, LPCWSTR, DWORD, HWND, LPWSTR dest, PULONG capacity) {
    std::fill_n(dest, *capacity, L'x');
    return S_OK;
  };
  EXPECT_EQ(DoUploadDriverPackage(InfPath().c_str()), 1);
  EXPECT_EQ(TraceStarting(L"DoUploadDriverPackage").back(),
            L"DoUploadDriverPackage, " + std::wstring(259, L'x') + L", code:0 (0x00000000).");
}

TEST_F(InstallPrinterTest, ReenumerationNeedsTheRootNode) {
  machine.load_driver_privilege_on = true;
  machine.FailNth(Seam::CM_Locate_DevNodeW, CR_FAILURE, 1);
  ReenumerateDeviceTree();
  EXPECT_EQ(machine.CallCount(Seam::CM_Reenumerate_DevNode), 0);
  ReenumerateDeviceTree();
  EXPECT_EQ(machine.devices.reenumerations, 1);
}

TEST_F(InstallPrinterTest, PortListing) {
  EXPECT_EQ(PortExists(L"USB001"), 1);
  EXPECT_EQ(PortExists(L"usb001"), 0) << "letter case counts";
  EXPECT_EQ(PortExists(L"USB00"), 0) << "whole names only";
  machine.FailNth(Seam::EnumPortsW, RPC_S_SERVER_UNAVAILABLE, 2);
  EXPECT_EQ(PortExists(L"USB001"), 0);
  machine.FailNth(Seam::LocalAlloc, ERROR_NOT_ENOUGH_MEMORY, 1);
  EXPECT_EQ(PortExists(L"USB001"), 0);
  machine.spooler.ports.clear();
  EXPECT_EQ(PortExists(L"USB001"), 0);
}

TEST_F(InstallPrinterTest, AFaultAtEveryCallLeavesNothingOpen) {
  FailEachCall(
      [&] {
        AttachDevice(1000);
        return Install();
      },
      [&](int result) {
        if (result != 0) EXPECT_NE(machine.spooler.FindPrinter(kName), nullptr) << "success without a queue";
      });
}

// Where the upload put the package into the driver store and Plug and Play
// made no queue, the driver is installed from the store's copy: its record
// names the store's INF and carries the INF's DriverVer, and nothing of the
// package's folder is registered.
TEST_F(InstallPrinterTest, WithoutAQueueFromPlugAndPlayTheDriverComesFromTheStore) {
  EXPECT_EQ(Install(), 1);
  const FakeDriver* driver = machine.spooler.FindDriver(kName);
  ASSERT_NE(driver, nullptr);
  ASSERT_EQ(machine.spooler.packages.size(), 1u);
  EXPECT_EQ(driver->inf_path, machine.spooler.packages[0]);
  EXPECT_EQ(driver->version, 0x07E9000800160001ull) << "2025.8.22.1, from the INF";
  EXPECT_EQ(machine.CallCount(Seam::AddPrinterDriverW), 0);
  EXPECT_EQ(ReadRealFile(DriverFile(L"vlm6drv6.dll")), "<none>") << "nothing staged from the folder";
  EXPECT_EQ(ReadRealFile(DriverFile(L"3\\vlm6drv6.dll")), "amd64 vlm6drv6.dll");
  EXPECT_NE(machine.spooler.FindPrinter(kName), nullptr);
}

// A newer driver on the device stays: the binding does not force the package
// over it, and says why it bound nothing.
TEST_F(InstallPrinterTest, ANewerDriverOnTheDeviceIsNotReplaced) {
  FakeDriver newer;
  newer.name = kName;
  newer.driver_path = L"vlm6drv6.dll";
  newer.version = 0x07EA000100010001ull;  // 2026.1.1.1
  ReadFakeDriverVer(L"01/01/2026,2026.1.1.1", newer.version, newer.date);
  machine.spooler.drivers.push_back(newer);
  AttachDevice(0);
  EXPECT_NE(Install(), 0);
  EXPECT_EQ(machine.spooler.FindDriver(kName)->version, 0x07EA000100010001ull);
  EXPECT_EQ(TraceStarting(L"Binding usbprint\\vellumor vl-k20d5a5 to the package: 0, errcode:259 (the driver installed "
                          L"ranks as well or better)")
                .size(),
            1u);
}

// Once Windows holds its checked copy of the package, the files the program
// copies come from there: a file of the program's folder changed after the
// upload is never the one in use.
HRESULT WINAPI UploadThenChangeTheFolder(LPCWSTR server, LPCWSTR inf, LPCWSTR environment, DWORD flags, HWND window,
                                         LPWSTR destination, PULONG capacity) {
  const HRESULT result = SwapSeam<&OsTable::UploadPrinterDriverPackageW>::Previous()(server, inf, environment, flags,
                                                                                    window, destination, capacity);
  const std::wstring path = inf;
  const std::wstring folder = path.substr(0, path.rfind(L'\\'));
  WriteRealFile(folder + L"\\amd64\\vlm6mon.dll", "planted");
  return result;
}

TEST_F(InstallPrinterTest, AfterTheUploadTheMonitorComesFromTheStoresCopy) {
  SwapSeam<&OsTable::UploadPrinterDriverPackageW> upload(UploadThenChangeTheFolder);
  EXPECT_EQ(Install(), 1);
  EXPECT_EQ(ReadRealFile(SystemFile(L"vlm6mon.dll")), "amd64 vlm6mon.dll");
  EXPECT_EQ(TraceStarting(L"CopyFile file:C:\\Windows\\System32\\DriverStore\\FileRepository\\").size(), 1u);
}

}  // namespace
