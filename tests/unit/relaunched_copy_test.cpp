#include <gtest/gtest.h>

#include "app/entry.h"
#include "tests/fakes/fake_machine.h"

namespace {

TEST(RelaunchedCopy, OnlyTheUninstallerInACopyFolderOfTheTempFolderCounts) {
  const wchar_t* temp = L"C:\\Users\\Me\\AppData\\Local\\Temp\\";
  EXPECT_TRUE(IsRelaunchedCopy(L"C:\\Users\\Me\\AppData\\Local\\Temp\\Tapstart-0a1b2c3d\\unins000.exe", temp));
  EXPECT_TRUE(IsRelaunchedCopy(L"c:\\users\\me\\appdata\\local\\temp\\TAPSTART-0A1B2C3D\\UNINS000.EXE", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Users\\Me\\AppData\\Local\\Temp\\Tapstart-0a1b2c3\\unins000.exe", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Users\\Me\\AppData\\Local\\Temp\\Tapstart-0a1b2c3d0\\unins000.exe", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Users\\Me\\AppData\\Local\\Temp\\Tapstart-0a1b2c3x\\unins000.exe", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Users\\Me\\AppData\\Local\\Temp\\Tapstart-0a1b2c3d\\setup.exe", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Users\\Me\\AppData\\Local\\Temp\\sub\\Tapstart-0a1b2c3d\\unins000.exe", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Users\\Me\\AppData\\Local\\Temp\\uni3F2.tmp", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Tapstart\\unins000.exe", temp));
  EXPECT_FALSE(IsRelaunchedCopy(L"C:\\Tapstart-0a1b2c3d\\unins000.exe", L""));
}

TEST(RelaunchedCopy, TheCopyAsksForItsDeletionAtTheNextStart) {
  FakeMachine machine;
  machine.module_path = machine.temp_directory + L"Tapstart-000003f2\\unins000.exe";
  RunProgram(nullptr, L"setup.exe -u C:\\Tapstart\\");
  ASSERT_EQ(machine.delayed_moves.size(), 2u);
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
