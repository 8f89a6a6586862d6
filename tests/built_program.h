// The built setup.exe, which lies beside the test programs in the build tree,
// mapped for its resources only (nothing of it runs).
#pragma once

#include <windows.h>

#include <string>

inline HMODULE LoadBuiltProgram() {
  wchar_t own[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring path = own;
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"setup.exe";
  return LoadLibraryExW(path.c_str(), nullptr,
                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}
