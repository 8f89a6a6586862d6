// LoadText with the strings of the built program, in the user-interface
// language the scenario set (German): the no-printer instruction comes whole
// with the capacity the installer loads it with.
#include <gtest/gtest.h>

#include <string>

#include "common/string_table.h"
#include "resources/resource_ids.h"
#include "tests/built_program.h"

namespace {

TEST(GermanStrings, InstructionLoadsWhole) {
  ASSERT_EQ(GetUserDefaultUILanguage(), MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
  ModuleInstance = LoadBuiltProgram();
  ASSERT_NE(ModuleInstance, nullptr);

  WideText<kNoDeviceTextCapacity> instruction;
  EXPECT_EQ(LoadText(instruction, IDS_NO_DEVICE), 302);
  const std::wstring text = instruction.c_str();
  EXPECT_EQ(text.substr(0, 13), L"Es wurde kein");
  EXPECT_EQ(text.substr(text.size() - 13), L"zu verlassen.");

  // What a 260-character field would have shown: cut mid-sentence.
  WideText<260> field;
  EXPECT_EQ(LoadText(field, IDS_NO_DEVICE), 259);

  WideText<260> found;
  LoadText(found, IDS_FOUND_PRINTER);
  EXPECT_STREQ(found.c_str(), L"Drucker %ws gefunden, der Treiber wird installiert...\r\n");
}

}  // namespace
