#include <gtest/gtest.h>

#include "app/entry.h"
#include "tests/fakes/fake_machine.h"

namespace {

TEST(RelaunchedCopy, OnlyATemporaryCopyInTheTempFolderCounts) {
  const wchar_t* temp = L"C:\\Users\\Me\\AppData\\Local\\Temp\\";
  EXPECT_TRUE(IsRelaunchedCopy(L"C:\\Users\\Me\\AppData\\Local\\Temp\\uni3F2.tmp", temp));
  EXPECT_TRUE(IsRelaunchedCopy(L"c:\\users\\me\\appdata\\local\\temp\\UNIFFFF.TMP", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Users\\Me\\AppData\\Local\\Temp\\uni12345.tmp", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Users\\Me\\AppData\\Local\\Temp\\uni.tmp", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Users\\Me\\AppData\\Local\\Temp\\uniXYZ.tmp", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Users\\Me\\AppData\\Local\\Temp\\sub\\uni3F2.tmp", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Users\\Me\\AppData\\Local\\Temp\\uni3F2.tmp.exe", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Tapstart\\unins000.exe", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Tapstart\\uni3F2.tmp", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\uni3F2.tmp", L""));
}

TEST(RelaunchedCopy, TheCopyAsksForItsDeletionAtTheNextStart) {
  FakeMachine machine;
  machine.module_path = machine.temp_directory + L"uni3F2.tmp";
  RunProgram(nullptr, L"setup.exe -u C:\\Tapstart\\");
  ASSERT_EQ(machine.delayed_moves.size(), 1u);
  EXPECT_EQ(machine.delayed_moves[0].first, machine.module_path);
  EXPECT_EQ(machine.delayed_moves[0].second, L"");

  // The program in its own folder, started with -u, stays where it is.
  machine.delayed_moves.clear();
  machine.module_path = L"C:\\Tapstart\\setup.exe";
  RunProgram(nullptr, L"setup.exe -u C:\\Tapstart\\");
  EXPECT_TRUE(machine.delayed_moves.empty());
  EXPECT_EQ(machine.OpenHandleCount(), 0);
}

}  // namespace
