#include "common/path.h"

#include <cctype>
#include <climits>

namespace {

bool CopyRange(wchar_t* destination, size_t capacity, const wchar_t* begin, const wchar_t* end) {
  const size_t n = static_cast<size_t>(end - begin);
  if (destination == nullptr || n + 1 > capacity) return false;
  for (size_t i = 0; i < n; ++i) destination[i] = begin[i];
  destination[n] = L'\0';
  return true;
}

void Clear(wchar_t* text, size_t capacity) {
  if (text != nullptr && capacity > 0) text[0] = L'\0';
}

// Reads one optionally signed decimal number, as %d does.
bool ReadNumber(const char*& p, int* out) {
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  long long value = 0;
  while (std::isdigit(static_cast<unsigned char>(*p))) {
    if (value <= INT_MAX) value = value * 10 + (*p - '0');
    ++p;
  }
  if (value > INT_MAX) value = INT_MAX;
  *out = static_cast<int>(negative ? -value : value);
  return true;
}

}  // namespace

bool SplitPathPieces(const wchar_t* path, wchar_t* drive, size_t drive_capacity,
                     wchar_t* directory, size_t directory_capacity, wchar_t* name,
                     size_t name_capacity, wchar_t* extension, size_t extension_capacity) {
  bool ok = path != nullptr;
  if (ok) {
    const wchar_t* p = path;
    const wchar_t* drive_end = p;
    if (p[0] != L'\0' && p[1] == L':') drive_end = p + 2;
    const wchar_t* end = drive_end;
    while (*end != L'\0') ++end;
    const wchar_t* last_slash = nullptr;
    for (const wchar_t* q = drive_end; q != end; ++q) {
      if (*q == L'\\' || *q == L'/') last_slash = q;
    }
    const wchar_t* name_begin = last_slash != nullptr ? last_slash + 1 : drive_end;
    const wchar_t* dot = nullptr;
    for (const wchar_t* q = name_begin; q != end; ++q) {
      if (*q == L'.') dot = q;
    }
    const wchar_t* name_end = dot != nullptr ? dot : end;
    ok = CopyRange(drive, drive_capacity, p, drive_end) &&
         CopyRange(directory, directory_capacity, drive_end, name_begin) &&
         CopyRange(name, name_capacity, name_begin, name_end) &&
         CopyRange(extension, extension_capacity, name_end, end);
  }
  if (!ok) {
    Clear(drive, drive_capacity);
    Clear(directory, directory_capacity);
    Clear(name, name_capacity);
    Clear(extension, extension_capacity);
  }
  return ok;
}

int ScanVersion(const char* text, int* major, int* minor, int* build, int* revision) {
  if (text == nullptr) return 0;
  int* targets[4] = {major, minor, build, revision};
  const char* p = text;
  int read = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (*p != '.') break;
      ++p;
    }
    int value = 0;
    if (!ReadNumber(p, &value)) break;
    if (targets[i] != nullptr) *targets[i] = value;
    ++read;
  }
  return read;
}
