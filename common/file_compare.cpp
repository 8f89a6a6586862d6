#include "common/file_compare.h"

#include <cstring>

#include "common/scoped_handle.h"
#include "platform/os.h"

bool SameFileBytes(const wchar_t* a, const wchar_t* b) {
  ScopedKernelHandle first(os.CreateFileW(a, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  ScopedKernelHandle second(os.CreateFileW(b, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!first || !second) return false;
  static char left[16384];
  static char right[16384];
  for (;;) {
    DWORD got_left = 0;
    DWORD got_right = 0;
    if (!os.ReadFile(first.get(), left, sizeof(left), &got_left, nullptr) ||
        !os.ReadFile(second.get(), right, sizeof(right), &got_right, nullptr) || got_left != got_right) {
      return false;
    }
    if (got_left == 0) return true;
    if (std::memcmp(left, right, got_left) != 0) return false;
  }
}
