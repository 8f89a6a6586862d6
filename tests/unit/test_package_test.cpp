// The driver package the build lays out beside setup.exe: its INF names every
// supported model under the hardware ID the tool binds it with.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "discovery/supported_models.h"
#include "discovery/usb_printers.h"
#include "install/register_printer.h"
#include "tests/unit/install_support.h"

namespace {

std::wstring DistFolder() {
  wchar_t own[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring path = own;
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"dist\\";
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(TestPackage, TheInfNamesEveryModelWithItsHardwareId) {
  const std::string inf = ReadRealFile(DistFolder() + L"vlm6v6.inf");
  ASSERT_NE(inf, "<none>");
  int rows = 0;
  for (const SupportedModel* row = SupportedModelTable; row->model != nullptr; ++row, ++rows) {
    const std::wstring wide = std::wstring(row->manufacturer) + L" " + row->model;
    const std::string description(wide.begin(), wide.end());
    char checksum[5];
    std::snprintf(checksum, sizeof(checksum), "%04x",
                  HardwareIdChecksum(reinterpret_cast<const uint8_t*>(description.data()),
                                     static_cast<uint16_t>(description.size())));
    std::string id = "usbprint\\" + description + checksum;
    for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(Count(inf, "\"" + id + "\"\r\n"), 4u) << id << ": one line per architecture";
    EXPECT_EQ(Count(inf, "\"" + description + "\""), 4u) << description;
  }
  EXPECT_EQ(rows, 8);
  // The INF's version is the build the tool registers the driver with.
  EXPECT_NE(inf.find("DriverVer=08/22/2025,2025.8.22.1\r\n"), std::string::npos);
  EXPECT_EQ(std::strcmp(DRIVER_BUILD_VERSION, "2025.08.22.1"), 0);
  EXPECT_NE(inf.find("LanguageMonitor=%MonitorName%,vlm6mon.dll"), std::string::npos);
  EXPECT_NE(inf.find("MonitorName=\"Vellumor Language Monitor V6\""), std::string::npos);
}

TEST(TestPackage, EveryArchitectureFolderHoldsTheThreeDlls) {
  for (const wchar_t* arch : {L"amd64", L"i386", L"arm", L"arm64"}) {
    for (const wchar_t* file : {L"vlm6drv6.dll", L"vlm6drv6ui.dll", L"vlm6mon.dll"}) {
      const std::wstring path = DistFolder() + arch + L"\\" + file;
      EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << Narrow(path);
    }
  }
  EXPECT_NE(GetFileAttributesW((DistFolder() + L"dat\\vlm6drv6.dat").c_str()), INVALID_FILE_ATTRIBUTES);
  HMODULE monitor = LoadLibraryExW((DistFolder() + L"amd64\\vlm6mon.dll").c_str(), nullptr, 0);
  ASSERT_NE(monitor, nullptr);
  EXPECT_NE(GetProcAddress(monitor, "InitializePrintMonitor2"), nullptr);
  FreeLibrary(monitor);
}

}  // namespace
