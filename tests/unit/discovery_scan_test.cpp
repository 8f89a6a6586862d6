// Scanning the USB printer interfaces into records: names derived, newest
// first, bad values tolerated, and nothing left open or allocated.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/usb_printers.h"
#include "tests/fakes/fake_machine.h"

namespace {

std::vector<UsbPrinterDevice*> Records(UsbPrinterDevice* head) {
  std::vector<UsbPrinterDevice*> out;
  for (UsbPrinterDevice* d = head; d != nullptr; d = d->next) out.push_back(d);
  return out;
}

// A scan of the machine into a list of its own, released at the end.
struct Scan {
  UsbPrinterDevice* head = nullptr;
  int count = 0;
  std::vector<UsbPrinterDevice*> records;

  Scan() { Run(); }
  ~Scan() { FreeUsbPrinterList(&head); }
  void Run() {
    count = EnumerateUsbPrinters(&head);
    records = Records(head);
  }
};

TEST(UsbPrinterScan, ListsTheNewestFirstWithPortVendorAndHardwareId) {
  FakeMachine m;
  AddUsbPrinter(m, L"Vellumor VL-K20", 1, L"A-0001");
  AddUsbPrinter(m, L"Vellumor VL-K410A_", 12, L"B-0002");
  UsbPrinterDevice* head = nullptr;
  ASSERT_EQ(EnumerateUsbPrinters(&head), 2);
  std::vector<UsbPrinterDevice*> list = Records(head);
  ASSERT_EQ(list.size(), 2u);

  EXPECT_STREQ(list[0]->port_name.c_str(), L"USB012");
  EXPECT_STREQ(list[0]->port_description.c_str(), L"Vellumor VL-K410A_");
  EXPECT_STREQ(list[0]->serial_number.c_str(), L"B-0002");
  EXPECT_STREQ(list[0]->checksum.c_str(), L"28b7");
  EXPECT_STREQ(list[0]->hardware_id.c_str(), L"usbprint\\vellumor vl-k410a_28b7");
  EXPECT_STREQ(list[0]->vendor.c_str(), L"3f19");
  EXPECT_STREQ(list[1]->port_name.c_str(), L"USB001");
  EXPECT_STREQ(list[1]->hardware_id.c_str(), L"usbprint\\vellumor vl-k20d5a5");
  EXPECT_STREQ(list[1]->serial_number.c_str(), L"A-0001");

  // One class query and one key per interface, no waiting; the set and the
  // keys are closed, and the records are the only blocks left.
  EXPECT_EQ(m.CallCount(Seam::SetupDiGetClassDevsW), 1);
  EXPECT_EQ(m.CallCount(Seam::SetupDiEnumDeviceInterfaces), 3);
  EXPECT_EQ(m.CallCount(Seam::SetupDiGetDeviceInterfaceDetailW), 4);
  EXPECT_EQ(m.CallCount(Seam::RegOpenKeyExW), 2);
  EXPECT_EQ(m.CallCount(Seam::RegQueryValueExW), 10);
  EXPECT_EQ(m.CallCount(Seam::LocalAlloc), 10);
  EXPECT_TRUE(m.sleeps.empty());
  EXPECT_EQ(m.OpenHandleCount(), 0);
  EXPECT_EQ(m.LiveBlocks(), 2);
  FreeUsbPrinterList(&head);
  EXPECT_EQ(head, nullptr);
  EXPECT_EQ(m.LiveBlocks(), 0);
}

TEST(UsbPrinterScan, PortNamesHaveAtLeastThreeDigits) {
  FakeMachine m;
  AddUsbPrinter(m, L"a", 7);
  AddUsbPrinter(m, L"b", 999);
  AddUsbPrinter(m, L"c", 1000);
  Scan scan;
  ASSERT_EQ(scan.count, 3);
  EXPECT_STREQ(scan.records[0]->port_name.c_str(), L"USB1000");
  EXPECT_STREQ(scan.records[1]->port_name.c_str(), L"USB999");
  EXPECT_STREQ(scan.records[2]->port_name.c_str(), L"USB007");
}

TEST(UsbPrinterScan, DescriptionIsKeptAs32CharactersAndHashedAsKept) {
  FakeMachine m;
  const std::wstring forty = L"0123456789012345678901234567890123456789";
  AddUsbPrinter(m, forty, 1, forty);
  Scan scan;
  ASSERT_EQ(scan.count, 1);
  const UsbPrinterDevice& d = *scan.records[0];
  EXPECT_EQ(d.port_description.c_str(), forty.substr(0, 32));
  EXPECT_EQ(d.serial_number.c_str(), forty.substr(0, 32));
  EXPECT_STREQ(d.checksum.c_str(), L"392f");
  EXPECT_EQ(d.hardware_id.c_str(), L"usbprint\\" + forty.substr(0, 32) + L"392f");
}

TEST(UsbPrinterScan, ChecksumIsOverTheStoredCaseAndTheHardwareIdIsLowerCase) {
  FakeMachine m;
  AddUsbPrinter(m, L"ABC", 1);
  AddUsbPrinter(m, L"", 2);
  Scan scan;
  ASSERT_EQ(scan.count, 2);
  EXPECT_STREQ(scan.records[1]->checksum.c_str(), L"4721");
  EXPECT_STREQ(scan.records[1]->hardware_id.c_str(), L"usbprint\\abc4721");
  EXPECT_STREQ(scan.records[0]->checksum.c_str(), L"0000");
  EXPECT_STREQ(scan.records[0]->hardware_id.c_str(), L"usbprint\\0000");
}

TEST(UsbPrinterScan, DoubleByteDescriptionIsHashedInItsWholeAnsiForm) {
  FakeMachine m;
  m.ansi_code_page = 932;
  // Five characters, ten bytes in code page 932.
  const std::wstring name = L"\u30F4\u30A7\u30E9\u30E2\u30A2";
  AddUsbPrinter(m, name, 3);
  Scan scan;
  ASSERT_EQ(scan.count, 1);
  const uint8_t bytes[] = {0x83, 0x94, 0x83, 0x46, 0x83, 0x89, 0x83, 0x82, 0x83, 0x41};
  ASSERT_EQ(HardwareIdChecksum(bytes, sizeof(bytes)), 0x10ec);
  EXPECT_STREQ(scan.records[0]->checksum.c_str(), L"10ec");
  EXPECT_EQ(scan.records[0]->hardware_id.c_str(), L"usbprint\\" + name + L"10ec");
}

TEST(UsbPrinterScan, ASecondScanReleasesTheFirstAndCountsOnlyItsOwn) {
  FakeMachine m;
  AddUsbPrinter(m, L"A", 1);
  AddUsbPrinter(m, L"B", 2);
  Scan scan;
  ASSERT_EQ(scan.count, 2);
  EXPECT_STREQ(scan.records[0]->port_description.c_str(), L"B");

  m.devices.usb_printers.erase(m.devices.usb_printers.begin());
  scan.Run();
  EXPECT_EQ(scan.count, 1);
  ASSERT_EQ(scan.records.size(), 1u);
  EXPECT_STREQ(scan.records[0]->port_description.c_str(), L"B");
  EXPECT_EQ(m.LiveBlocks(), 1);

  m.devices.usb_printers.clear();
  scan.Run();
  EXPECT_EQ(scan.count, 0);
  EXPECT_EQ(scan.head, nullptr);
  EXPECT_EQ(m.LiveBlocks(), 0);
}

TEST(UsbPrinterScan, FindsByPortWithRegardToCaseFromTheGivenRecord) {
  FakeMachine m;
  AddUsbPrinter(m, L"first", 1);
  AddUsbPrinter(m, L"other", 2);
  AddUsbPrinter(m, L"second", 1);  // the same port again, listed first
  Scan scan;
  ASSERT_EQ(scan.count, 3);
  EXPECT_EQ(FindUsbPrinterByPort(scan.head, L"USB001"), scan.records[0]);
  EXPECT_EQ(FindUsbPrinterByPort(scan.records[1], L"USB001"), scan.records[2]);
  EXPECT_EQ(FindUsbPrinterByPort(scan.head, L"usb001"), nullptr);
  EXPECT_EQ(FindUsbPrinterByPort(scan.head, L"USB00"), nullptr);
  EXPECT_EQ(FindUsbPrinterByPort(scan.head, nullptr), nullptr);
  EXPECT_EQ(FindUsbPrinterByPort(nullptr, L"USB001"), nullptr);
}

TEST(UsbPrinterScan, InterfaceWithoutAUsablePortNumberIsLeftOut) {
  FakeMachine m;
  const std::wstring missing = AddUsbPrinter(m, L"missing", 1);
  m.registry.keys[missing].values.erase(L"Port Number");
  const std::wstring text = AddUsbPrinter(m, L"text", 2);
  m.registry.SetString(text, L"Port Number", L"2");
  const std::wstring short_number = AddUsbPrinter(m, L"short", 3);
  m.registry.SetBytes(short_number, L"Port Number", REG_DWORD, {3, 0});
  const std::wstring no_key = UsbPrinterDevicePath(L"no-key");
  m.devices.usb_printers.push_back(no_key);
  AddUsbPrinter(m, L"good", 5);
  Scan scan;
  ASSERT_EQ(scan.count, 1);
  EXPECT_STREQ(scan.records[0]->port_description.c_str(), L"good");
  EXPECT_EQ(m.OpenHandleCount(), 0);
  EXPECT_EQ(m.LiveBlocks(), 1);
}

TEST(UsbPrinterScan, BadTextValuesLeaveTheirFieldEmptyOrEndWithinTheirData) {
  FakeMachine m;
  const std::wstring missing = AddUsbPrinter(m, L"x", 1);
  m.registry.keys[missing].values.erase(L"Port Description");
  m.registry.keys[missing].values.erase(L"Serial Number");
  const std::wstring wrong_type = AddUsbPrinter(m, L"x", 2);
  m.registry.SetMultiString(wrong_type, L"Port Description", {L"Vellumor VL-K20"});
  m.registry.SetDword(wrong_type, L"Serial Number", 42);
  // No terminator, and an odd number of bytes for the serial number.
  const std::wstring unterminated = AddUsbPrinter(m, L"x", 3);
  const std::wstring text = L"Vellumor VL-K20";
  const BYTE* raw = reinterpret_cast<const BYTE*>(text.c_str());
  m.registry.SetBytes(unterminated, L"Port Description", REG_SZ,
                      std::vector<BYTE>(raw, raw + text.size() * sizeof(wchar_t)));
  m.registry.SetBytes(unterminated, L"Serial Number", REG_SZ, std::vector<BYTE>(raw, raw + 5));
  Scan scan;
  ASSERT_EQ(scan.count, 3);
  for (const UsbPrinterDevice* d : {scan.records[2], scan.records[1]}) {
    EXPECT_STREQ(d->port_description.c_str(), L"");
    EXPECT_STREQ(d->serial_number.c_str(), L"");
    EXPECT_STREQ(d->hardware_id.c_str(), L"usbprint\\0000");
  }
  EXPECT_STREQ(scan.records[0]->port_description.c_str(), L"Vellumor VL-K20");
  EXPECT_STREQ(scan.records[0]->hardware_id.c_str(), L"usbprint\\vellumor vl-k20d5a5");
  EXPECT_STREQ(scan.records[0]->serial_number.c_str(), L"Ve");
  EXPECT_EQ(m.LiveBlocks(), 3);
}

TEST(UsbPrinterScan, ShortDevicePathGivesTheVendorCharactersItHas) {
  FakeMachine m;
  for (const std::wstring path : {L"\\\\?\\usb#vid_3f", L"\\\\?\\usb#vid", L"\\\\?"}) {
    m.devices.usb_printers.push_back(path);
    m.registry.SetDword(UsbPrinterParametersKey(path), L"Port Number", 9);
  }
  Scan scan;
  ASSERT_EQ(scan.count, 3);
  EXPECT_STREQ(scan.records[2]->vendor.c_str(), L"3f");
  EXPECT_STREQ(scan.records[1]->vendor.c_str(), L"");
  EXPECT_STREQ(scan.records[0]->vendor.c_str(), L"");
  EXPECT_EQ(m.CallCount(Seam::RegOpenKeyExW), 3);
}

TEST(UsbPrinterScan, FailedClassQueryEndsTheScanEmpty) {
  FakeMachine m;
  AddUsbPrinter(m, L"A", 1);
  UsbPrinterDevice* head = nullptr;
  EXPECT_EQ(EnumerateUsbPrinters(&head), 1);
  m.Fail(Seam::SetupDiGetClassDevsW, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(EnumerateUsbPrinters(&head), 0);
  EXPECT_EQ(head, nullptr) << "the previous records are released first";
  EXPECT_EQ(m.CallCount(Seam::SetupDiEnumDeviceInterfaces), 2);
  EXPECT_EQ(m.OpenHandleCount(), 0);
  EXPECT_EQ(m.LiveBlocks(), 0);
}

TEST(UsbPrinterScan, FailedBufferLeavesOnlyItsFieldEmpty) {
  FakeMachine m;
  AddUsbPrinter(m, L"Vellumor VL-K20", 1, L"S1");
  // Blocks of one interface: detail, key path, record, description, serial.
  m.FailNth(Seam::LocalAlloc, ERROR_NOT_ENOUGH_MEMORY, 4);
  Scan scan;
  ASSERT_EQ(scan.count, 1);
  EXPECT_STREQ(scan.records[0]->port_description.c_str(), L"");
  EXPECT_STREQ(scan.records[0]->hardware_id.c_str(), L"usbprint\\0000");
  EXPECT_STREQ(scan.records[0]->serial_number.c_str(), L"S1");
}

// Every call of the scan fails in turn: the interface concerned is dropped or
// its field left empty, the others are kept, and once the list is released
// nothing of the scan is left open or allocated.
TEST(UsbPrinterScan, NothingLeftOpenWhicheverCallFails) {
  Seam functions[] = {Seam::SetupDiGetClassDevsW, Seam::SetupDiEnumDeviceInterfaces,
                             Seam::SetupDiGetDeviceInterfaceDetailW, Seam::LocalAlloc, Seam::RegOpenKeyExW,
                             Seam::RegQueryValueExW, Seam::WideCharToMultiByte};
  for (Seam function : functions) {
    int calls = 0;
    {
      FakeMachine clean;
      AddUsbPrinter(clean, L"Vellumor VL-K20", 1);
      AddUsbPrinter(clean, L"Vellumor VL-K21", 2);
      Scan scan;
      ASSERT_EQ(scan.count, 2);
      calls = clean.CallCount(function);
    }
    ASSERT_GT(calls, 0) << function;
    for (int nth = 1; nth <= calls; ++nth) {
      FakeMachine m;
      AddUsbPrinter(m, L"Vellumor VL-K20", 1);
      AddUsbPrinter(m, L"Vellumor VL-K21", 2);
      m.FailNth(function, ERROR_NOT_ENOUGH_MEMORY, nth);
      UsbPrinterDevice* head = nullptr;
      const int count = EnumerateUsbPrinters(&head);
      EXPECT_EQ(static_cast<size_t>(count), Records(head).size()) << function << " #" << nth;
      EXPECT_LE(count, 2);
      EXPECT_EQ(m.OpenHandleCount(), 0) << function << " #" << nth;
      EXPECT_EQ(m.LiveBlocks(), count) << function << " #" << nth;
      FreeUsbPrinterList(&head);
      EXPECT_EQ(m.LiveBlocks(), 0) << function << " #" << nth;
    }
  }
}

}  // namespace
