// The fake machine itself: what the product's tests rely on it for.
#include <gtest/gtest.h>

#include <vector>

#include "tests/fakes/fake_machine.h"

namespace {

TEST(FakeMachine, FaultsFailTheChosenCallsOnly) {
  FakeMachine m;
  m.FailNth(Seam::DeleteFileW, ERROR_ACCESS_DENIED, 2);
  const std::wstring path = m.temp_directory + L"none.txt";
  EXPECT_FALSE(os.DeleteFileW(path.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "first call is real";
  EXPECT_FALSE(os.DeleteFileW(path.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(m.CallCount(Seam::DeleteFileW), 2);
}

TEST(FakeMachine, SleepAdvancesTheVirtualClockOnly) {
  FakeMachine m;
  os.Sleep(10000);
  os.Sleep(10);
  EXPECT_EQ(m.clock_ms, 10010u);
  EXPECT_EQ(m.sleeps, (std::vector<DWORD>{10000, 10}));
}

TEST(FakeMachine, SpoolerListsDriversAfterAskingForTheSize) {
  FakeMachine m;
  FakeDriver d;
  d.name = L"Vellumor VL-K20";
  d.driver_path = L"C:\\drivers\\vlm6drv6.dll";
  d.dependent_files = {L"a.dll", L"b.dat"};
  m.spooler.drivers.push_back(d);
  DWORD needed = 0, count = 0;
  EXPECT_FALSE(os.EnumPrinterDriversW(nullptr, nullptr, 8, nullptr, 0, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(os.EnumPrinterDriversW(nullptr, nullptr, 8, buffer.data(), needed, &needed, &count));
  ASSERT_EQ(count, 1u);
  const auto* info = reinterpret_cast<const DRIVER_INFO_8W*>(buffer.data());
  EXPECT_STREQ(info->pName, L"Vellumor VL-K20");
  EXPECT_STREQ(info->pDependentFiles + 6, L"b.dat");
  EXPECT_EQ(info->pszInfPath, nullptr);
}

TEST(FakeMachine, PrintersOpenWithoutRegardToCaseAndMustBeClosed) {
  FakeMachine m;
  m.spooler.printers.push_back({L"Vellumor VL-K20", L"USB001", L"Vellumor VL-K20"});
  HANDLE h = nullptr;
  EXPECT_FALSE(os.OpenPrinterW(const_cast<LPWSTR>(L"Other"), &h, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  ASSERT_TRUE(os.OpenPrinterW(const_cast<LPWSTR>(L"vellumor vl-k20"), &h, nullptr));
  EXPECT_EQ(m.OpenHandleCount("printer"), 1);
  os.ClosePrinter(h);
  EXPECT_EQ(m.OpenHandleCount(), 0);
}

TEST(FakeMachine, RegistryKeysValuesAndSubkeys) {
  FakeMachine m;
  m.registry.SetString(L"SOFTWARE\\A\\k2", L"V", L"two");
  m.registry.SetString(L"SOFTWARE\\A\\k1", L"V", L"one");
  HKEY a = nullptr;
  ASSERT_EQ(os.RegOpenKeyW(HKEY_LOCAL_MACHINE, L"software\\a", &a), ERROR_SUCCESS);
  wchar_t name[16];
  ASSERT_EQ(os.RegEnumKeyW(a, 0, name, 16), ERROR_SUCCESS);
  EXPECT_STREQ(name, L"k1");
  EXPECT_EQ(os.RegEnumKeyW(a, 2, name, 16), ERROR_NO_MORE_ITEMS);
  wchar_t text[8];
  DWORD size = sizeof(text);
  EXPECT_EQ(os.RegGetValueW(a, L"k2", L"V", RRF_RT_REG_SZ, nullptr, text, &size), ERROR_SUCCESS);
  EXPECT_STREQ(text, L"two");
  EXPECT_EQ(os.RegGetValueW(a, L"k2", L"V", RRF_RT_REG_MULTI_SZ, nullptr, text, &size),
            ERROR_UNSUPPORTED_TYPE);
  os.RegCloseKey(a);
  EXPECT_EQ(m.OpenHandleCount(), 0);
}

}  // namespace
