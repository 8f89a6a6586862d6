#include "common/standard_output.h"

#include <cwchar>

#include "common/text.h"
#include "platform/os.h"

namespace {

constexpr size_t kLineCapacity = 1024;

}  // namespace

void WriteStandardOutputLine(const wchar_t* line) {
  // Not closed afterwards: the handle stays the process's.
  const HANDLE output = os.GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  WideText<kLineCapacity> text = {};
  // A line too long for the field is not written cut.
  if (!BoundedFormat(text, L"%ws\r\n", line)) return;
  char bytes[kLineCapacity * 3];
  const int size = os.WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.length()), bytes,
                                          sizeof(bytes), nullptr, nullptr);
  if (size <= 0) return;
  DWORD written = 0;
  os.WriteFile(output, bytes, static_cast<DWORD>(size), &written, nullptr);
}
