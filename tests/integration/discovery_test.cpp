// The scan against the real USB printing interface class of a Wine prefix in
// which tools/fixtures/usbprinter attached (or detached) virtual printers.
#include <gtest/gtest.h>

#include <vector>

#include "discovery/supported_models.h"
#include "discovery/usb_printers.h"

namespace {

// The enumeration order of the present USB printer interfaces, by device path.
std::vector<std::wstring> EnumeratedPaths() {
  std::vector<std::wstring> paths;
  HDEVINFO set = SetupDiGetClassDevsW(&kUsbPrintInterfaceClass, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return paths;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof(data);
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbPrintInterfaceClass, i, &data);
       ++i) {
    std::vector<BYTE> block(1024, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.data());
    detail->cbSize = sizeof(*detail);
    if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, 1000, nullptr, nullptr)) {
      paths.push_back(detail->DevicePath);
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return paths;
}

// After: usbprinter add --description "Vellumor VL-K20" --port 1
//        usbprinter add --description "Vellumor VL-K410A_" --port 12
TEST(DiscoveryOnWine, TwoAttachedPrintersAreListedNewestFirst) {
  const std::vector<std::wstring> enumerated = EnumeratedPaths();
  ASSERT_EQ(enumerated.size(), 2u);
  UsbPrinterDevice* head = nullptr;
  ASSERT_EQ(EnumerateUsbPrinters(&head), 2);
  ASSERT_NE(head, nullptr);
  ASSERT_NE(head->next, nullptr);
  EXPECT_EQ(head->next->next, nullptr);

  // The last one enumerated comes first.
  const UsbPrinterDevice* last = head;
  const UsbPrinterDevice* first = head->next;
  const bool k20_first = enumerated[0].find(L"&0&1#") != std::wstring::npos;
  const UsbPrinterDevice* k20 = k20_first ? first : last;
  const UsbPrinterDevice* k410 = k20_first ? last : first;

  EXPECT_STREQ(k20->port_name.c_str(), L"USB001");
  EXPECT_STREQ(k20->port_description.c_str(), L"Vellumor VL-K20");
  EXPECT_STREQ(k20->hardware_id.c_str(), L"usbprint\\vellumor vl-k20d5a5");
  EXPECT_STREQ(k20->vendor.c_str(), L"3f19");
  EXPECT_STREQ(k410->port_name.c_str(), L"USB012");
  EXPECT_STREQ(k410->port_description.c_str(), L"Vellumor VL-K410A_");
  EXPECT_STREQ(k410->hardware_id.c_str(), L"usbprint\\vellumor vl-k410a_28b7");

  EXPECT_EQ(FindUsbPrinterByPort(head, L"USB012"), k410);
  EXPECT_EQ(FindSupportedModel(k20->port_description.c_str()), &SupportedModelTable[5]);
  EXPECT_EQ(FindSupportedModel(k410->port_description.c_str()), &SupportedModelTable[0]);
  FreeUsbPrinterList(&head);
}

// After: usbprinter remove-all
TEST(DiscoveryOnWine, NoPrinterAttached) {
  EXPECT_TRUE(EnumeratedPaths().empty());
  UsbPrinterDevice* head = nullptr;
  EXPECT_EQ(EnumerateUsbPrinters(&head), 0);
  EXPECT_EQ(head, nullptr);
}

}  // namespace
