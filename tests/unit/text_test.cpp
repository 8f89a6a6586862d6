#include <gtest/gtest.h>

#include <string>

#include "common/path.h"
#include "common/text.h"

namespace {

std::wstring Repeat(wchar_t c, size_t n) { return std::wstring(n, c); }

TEST(BoundedCopy, FitsOnlyWithItsTerminator) {
  WideText<260> field;
  const std::wstring fits = Repeat(L'a', 259);
  EXPECT_TRUE(BoundedCopy(field, fits.c_str()));
  EXPECT_EQ(field.c_str(), fits);

  const std::wstring too_long = Repeat(L'b', 260);
  EXPECT_FALSE(BoundedCopy(field, too_long.c_str()));
  EXPECT_TRUE(field.empty());
}

TEST(BoundedCopy, EmptyAbsentAndNoRoom) {
  WideText<4> field;
  EXPECT_TRUE(BoundedCopy(field, L""));
  EXPECT_TRUE(field.empty());
  BoundedCopy(field, L"abc");
  EXPECT_FALSE(BoundedCopy(field, nullptr));
  EXPECT_TRUE(field.empty());

  wchar_t untouched[2] = {L'x', L'\0'};
  EXPECT_FALSE(BoundedCopy(untouched, 0, L"a"));
  EXPECT_EQ(untouched[0], L'x');
  EXPECT_FALSE(BoundedCopy(nullptr, 5, L"a"));
}

TEST(BoundedFormat, OverflowKeepsTheLeadingCharacters) {
  WideText<5> field;
  EXPECT_FALSE(BoundedFormat(field, L"%ws", L"abcdefgh"));
  EXPECT_STREQ(field.c_str(), L"abcd");
  EXPECT_TRUE(BoundedFormat(field, L"%ws", L"abcd"));
  EXPECT_STREQ(field.c_str(), L"abcd");
  wchar_t none[1] = {L'x'};
  EXPECT_FALSE(BoundedFormat(none, 0, L"a"));
  EXPECT_EQ(none[0], L'x');
}

TEST(BoundedFormat, ConversionsOfTheStringTablesAndTraceLines) {
  WideText<64> f;
  BoundedFormat(f, L"USB%.3d", 7);
  EXPECT_STREQ(f.c_str(), L"USB007");
  BoundedFormat(f, L"USB%.3d", 1000);
  EXPECT_STREQ(f.c_str(), L"USB1000");
  BoundedFormat(f, L"%04x", 0x4721u);
  EXPECT_STREQ(f.c_str(), L"4721");
  BoundedFormat(f, L"%04x", 0x0);
  EXPECT_STREQ(f.c_str(), L"0000");
  BoundedFormat(f, L"%.4ws|%.32ws", L"3f19&pid", L"short");
  EXPECT_STREQ(f.c_str(), L"3f19|short");
  BoundedFormat(f, L"code:%d.", static_cast<long>(0x80004001));
  EXPECT_STREQ(f.c_str(), L"code:-2147467263.");
  BoundedFormat(f, L"Error:0x%x", static_cast<long>(0x800F023D));
  EXPECT_STREQ(f.c_str(), L"Error:0x800f023d");
  BoundedFormat(f, L"%d.%d %u %X 100%%", 1, -2, 3000000000u, 0xabcu);
  EXPECT_STREQ(f.c_str(), L"1.-2 3000000000 ABC 100%");
  BoundedFormat(f, L"[%5ws][%-3d][%05d]", L"ab", 7, -42);
  EXPECT_STREQ(f.c_str(), L"[   ab][7  ][-0042]");
}

TEST(BoundedFormat, ArgumentsAndConversionsThatDoNotMatch) {
  WideText<64> f;
  // Fewer conversions than arguments: the leading ones are shown.
  BoundedFormat(f, L"The driver for printer [%ws] is installed.", L"VL-K20", L"USB001");
  EXPECT_STREQ(f.c_str(), L"The driver for printer [VL-K20] is installed.");
  // More conversions than arguments: the missing ones show nothing.
  BoundedFormat(f, L"[%ws] on [%ws] %d", L"VL-K20");
  EXPECT_STREQ(f.c_str(), L"[VL-K20] on [] ");
  // A conversion of another kind than its argument shows nothing either.
  BoundedFormat(f, L"%d|%ws", L"text", 5);
  EXPECT_STREQ(f.c_str(), L"|");
  // A dangling percent sign stays as it is.
  BoundedFormat(f, L"50%");
  EXPECT_STREQ(f.c_str(), L"50%");
}

TEST(SplitPath, PiecesOfAFullPath) {
  WideText<3> drive;
  WideText<256> dir;
  WideText<260> name;
  WideText<256> ext;
  EXPECT_TRUE(SplitPath(L"C:\\Drivers\\Setup\\setup.exe", drive, dir, name, ext));
  EXPECT_STREQ(drive.c_str(), L"C:");
  EXPECT_STREQ(dir.c_str(), L"\\Drivers\\Setup\\");
  EXPECT_STREQ(name.c_str(), L"setup");
  EXPECT_STREQ(ext.c_str(), L".exe");

  EXPECT_TRUE(SplitPath(L"C:\\a.b\\unins000", drive, dir, name, ext));
  EXPECT_STREQ(dir.c_str(), L"\\a.b\\");
  EXPECT_STREQ(name.c_str(), L"unins000");
  EXPECT_STREQ(ext.c_str(), L"");
}

TEST(SplitPath, APieceThatDoesNotFitEmptiesAllFour) {
  WideText<3> drive;
  WideText<256> dir;
  WideText<8> name;
  WideText<256> ext;
  EXPECT_FALSE(SplitPath(L"C:\\dir\\a-long-name.exe", drive, dir, name, ext));
  EXPECT_TRUE(drive.empty());
  EXPECT_TRUE(dir.empty());
  EXPECT_TRUE(name.empty());
  EXPECT_TRUE(ext.empty());

  WideText<260> long_name;
  const std::wstring deep = L"C:\\" + Repeat(L'd', 300) + L"\\x.exe";
  EXPECT_FALSE(SplitPath(deep.c_str(), drive, dir, long_name, ext));
  EXPECT_TRUE(long_name.empty());
}

TEST(ScanVersion, FourDottedNumbers) {
  int a = -1, b = -1, c = -1, d = -1;
  EXPECT_EQ(ScanVersion("2025.8.22.1", &a, &b, &c, &d), 4);
  EXPECT_EQ(a, 2025);
  EXPECT_EQ(b, 8);
  EXPECT_EQ(c, 22);
  EXPECT_EQ(d, 1);
  a = b = c = d = -1;
  EXPECT_EQ(ScanVersion("6.1", &a, &b, &c, &d), 2);
  EXPECT_EQ(c, -1);
  EXPECT_EQ(ScanVersion("x.1", &a, &b, &c, &d), 0);
  EXPECT_EQ(ScanVersion(nullptr, &a, &b, &c, &d), 0);
}

}  // namespace
