// The hardware-ID checksum and the ANSI conversion it is taken over.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "discovery/usb_printers.h"
#include "tests/fakes/fake_machine.h"

namespace {

uint16_t ChecksumOf(const char* text) {
  return HardwareIdChecksum(reinterpret_cast<const uint8_t*>(text),
                            static_cast<uint16_t>(std::strlen(text)));
}

TEST(HardwareIdChecksum, KnownTexts) {
  EXPECT_EQ(ChecksumOf("ABC"), 0x4721);
  EXPECT_EQ(ChecksumOf("abc"), 0x9738);  // the same as CRC-16/ARC
  // CRC-16/ARC gives 0xBB3D; the high table's entry 15 makes the difference.
  EXPECT_EQ(ChecksumOf("123456789"), 0x593C);
  EXPECT_EQ(ChecksumOf(""), 0x0000);
  EXPECT_EQ(ChecksumOf("Vellumor VL-K20"), 0xd5a5);
  EXPECT_EQ(ChecksumOf("Vellumor VL-K410A_"), 0x28b7);
  EXPECT_EQ(HardwareIdChecksum(nullptr, 4), 0x0000);
}

TEST(WideToAnsi, ConvertsWholeTextsOrNothing) {
  FakeMachine m;
  char out[8];
  ASSERT_EQ(WideToAnsi(out, sizeof(out), L"ABC"), out);
  EXPECT_STREQ(out, "ABC");
  ASSERT_EQ(WideToAnsi(out, sizeof(out), L""), out);
  EXPECT_STREQ(out, "");

  std::memset(out, 'x', sizeof(out));
  EXPECT_EQ(WideToAnsi(out, sizeof(out), L"12345678"), nullptr) << "no terminator within 8";
  EXPECT_EQ(WideToAnsi(nullptr, sizeof(out), L"A"), nullptr);
  EXPECT_EQ(WideToAnsi(out, sizeof(out), nullptr), nullptr);
  EXPECT_EQ(WideToAnsi(out, 0, L"A"), nullptr);
  EXPECT_EQ(std::string(out, sizeof(out)), std::string(8, 'x')) << "left unchanged";
}

TEST(WideToAnsi, DoubleByteCharactersTakeTheirBytesOrNothingIsWritten) {
  FakeMachine m;
  m.ansi_code_page = 932;
  char out[8];
  // Three characters, six bytes and the terminator: they fit.
  ASSERT_EQ(WideToAnsi(out, sizeof(out), L"\u30F4\u30A7\u30E9"), out);
  EXPECT_STREQ(out, "\x83\x94\x83\x46\x83\x89");
  // Four characters need eight bytes and the terminator: they do not.
  std::memset(out, 'x', sizeof(out));
  EXPECT_EQ(WideToAnsi(out, sizeof(out), L"\u30F4\u30A7\u30E9\u30E2"), nullptr);
  EXPECT_EQ(std::string(out, sizeof(out)), std::string(8, 'x'));
}

}  // namespace
