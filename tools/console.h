// Output of the test tools: one line of UTF-8 on standard output, so that the
// scripts that run them under Wine read every name as the program saw it.
#pragma once

#include <windows.h>

#include <string>

inline void Print(const std::wstring& line) {
  const std::wstring whole = line + L"\n";
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, whole.c_str(), static_cast<int>(whole.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, whole.c_str(), static_cast<int>(whole.size()), utf8.data(),
                      bytes, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()),
            &written, nullptr);
}
