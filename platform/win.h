// The Windows headers the tool is written against, in one place and one order.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winspool.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <newdev.h>
#include <shellapi.h>
#include <shlobj.h>
#include <commctrl.h>
#include <aclapi.h>
#include <sddl.h>

// Newer than the headers the tool is built with: Windows 11, and Windows 10
// with the updates of 2025 (fileapi.h). Bound at start where Windows has it.
extern "C" DWORD WINAPI GetTempPath2W(DWORD BufferLength, LPWSTR Buffer);

// What the mingw-w64 headers lack of winspool.h: the driver install from a
// package in the driver store (bound at start, never linked).
extern "C" HRESULT WINAPI InstallPrinterDriverFromPackageW(LPCWSTR server, LPCWSTR inf_path, LPCWSTR driver_name,
                                                           LPCWSTR environment, DWORD flags);
#ifndef IPDFP_COPY_ALL_FILES
#define IPDFP_COPY_ALL_FILES 0x00000001
#endif
