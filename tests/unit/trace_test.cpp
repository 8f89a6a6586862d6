#include <gtest/gtest.h>

#include <string>

#include "common/trace.h"
#include "tests/fakes/fake_machine.h"

namespace {

TEST(Trace, WritesTheLineThenALineBreakOfItsOwn) {
  FakeMachine machine;
  trace("Found model %ws, %ws %ws", L"VellumorVL-K20", L"Vellumor", L"VL-K20");
  ASSERT_EQ(machine.debug_writes.size(), 2u);
  EXPECT_EQ(machine.debug_writes[0], L"Found model VellumorVL-K20, Vellumor VL-K20");
  EXPECT_EQ(machine.debug_writes[1], L"\n");
}

TEST(Trace, FormatOf255IsTracedAnd256IsNot) {
  FakeMachine machine;
  const std::string fits(255, 'f');
  trace(fits.c_str());
  ASSERT_EQ(machine.debug_writes.size(), 2u);
  EXPECT_EQ(machine.debug_writes[0], std::wstring(255, L'f'));

  const std::string too_long(256, 'f');
  trace(too_long.c_str());
  EXPECT_EQ(machine.debug_writes.size(), 2u);
}

TEST(Trace, LineOf767IsWrittenWholeAnd768IsDropped) {
  FakeMachine machine;
  const std::wstring arg767(767 - 2, L'x');
  trace("a:%ws", arg767.c_str());
  ASSERT_EQ(machine.debug_writes.size(), 2u);
  EXPECT_EQ(machine.debug_writes[0].size(), 767u);

  const std::wstring arg768(768 - 2, L'x');
  trace("a:%ws", arg768.c_str());
  EXPECT_EQ(machine.debug_writes.size(), 2u) << "a line too long is dropped, not cut";
}

TEST(Trace, FormatGoesThroughTheAnsiCodePage) {
  FakeMachine machine;
  const char format[] = {'c', 'a', 'f', static_cast<char>(0xE9), '\0'};
  trace(format);
  ASSERT_EQ(machine.debug_writes.size(), 2u);
  wchar_t expected[8] = {};
  MultiByteToWideChar(CP_ACP, 0, format, -1, expected, 8);
  EXPECT_EQ(machine.debug_writes[0], expected);
  EXPECT_NE(machine.debug_writes[0].back(), 0xFFFD) << "not read as UTF-8";
}

TEST(Trace, SignedNumbersAndMissingArguments) {
  FakeMachine machine;
  trace("DoUploadDriverPackage, %ws, code:%d.", L"", static_cast<long>(0x80004001));
  trace("Remove file:%ws, %d, errcode:%d.", L"C:\\x.dll");
  const auto lines = machine.TraceLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], L"DoUploadDriverPackage, , code:-2147467263.");
  EXPECT_EQ(lines[1], L"Remove file:C:\\x.dll, , errcode:.");
}

}  // namespace
