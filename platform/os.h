// The seam between the tool and the machine it changes.
//
// Every call that reads or changes the machine goes through `os`, a table of
// function pointers with the exact Windows signatures, set to the real functions.
// Call sites read like plain Win32 code with one prefix: os.OpenPrinterW(...).
// Window and dialog calls do not go through it.
#pragma once

#include "platform/win.h"

// X(name) for every function in the table.
#define OS_FUNCTIONS(X)                                                      \
  /* spooler */                                                              \
  X(OpenPrinterW) X(ClosePrinter) X(AddPrinterW) X(DeletePrinter)            \
  X(SetPrinterW) X(EnumPrintersW) X(EnumPrinterDriversW)                     \
  X(AddPrinterDriverW) X(DeletePrinterDriverExW) X(AddMonitorW)              \
  X(DeleteMonitorW) X(EnumPortsW) X(GetPrinterDriverDirectoryW)              \
  X(UploadPrinterDriverPackageW) X(DeletePrinterDriverPackageW)              \
  /* device installation */                                                  \
  X(SetupDiGetClassDevsW) X(SetupDiGetClassDevsExW)                          \
  X(SetupDiEnumDeviceInterfaces) X(SetupDiGetDeviceInterfaceDetailW)         \
  X(SetupDiEnumDeviceInfo) X(SetupDiGetDeviceRegistryPropertyW)              \
  X(SetupDiRemoveDevice) X(SetupDiDestroyDeviceInfoList)                     \
  X(SetupDiClassGuidsFromNameW) X(SetupGetInfInformationW)                   \
  X(SetupQueryInfVersionInformationW) X(CM_Locate_DevNodeW)                  \
  X(CM_Reenumerate_DevNode) X(UpdateDriverForPlugAndPlayDevicesW)            \
  /* services */                                                             \
  X(OpenSCManagerW) X(OpenServiceW) X(QueryServiceStatusEx)                  \
  X(ControlService) X(StartServiceW) X(CloseServiceHandle)                   \
  /* registry */                                                             \
  X(RegOpenKeyExW) X(RegOpenKeyW) X(RegEnumKeyW) X(RegQueryValueExW)         \
  X(RegGetValueW) X(RegCloseKey)                                             \
  /* files, heap, processes, system */                                       \
  X(CopyFileW) X(DeleteFileW) X(MoveFileExW) X(GetTempPathW)                 \
  X(GetFileAttributesW) X(FindFirstFileW) X(FindNextFileW) X(FindClose)     \
  X(GetPrivateProfileSectionW) X(GetPrivateProfileStringW)                   \
  X(GetTempFileNameW) X(GetSystemDirectoryW) X(GetModuleFileNameW)           \
  X(CreateProcessW) X(CloseHandle) X(CreateMutexW) X(ReleaseMutex)           \
  X(LocalAlloc) X(LocalFree) X(Sleep) X(OutputDebugStringW)                  \
  X(WaitForSingleObject) X(GetExitCodeProcess) X(OpenProcess) X(GetTickCount64) \
  X(GetProcessWindowStation) X(GetUserObjectInformationW)                    \
  X(CreateFileW) X(WriteFile) X(GetLocalTime) X(GetUserNameW)                \
  X(GetNativeSystemInfo) X(CommandLineToArgvW) X(SHFileOperationW)           \
  X(SHChangeNotify) X(MessageBoxW) X(WideCharToMultiByte)

struct OsTable {
#define OS_SLOT(name) decltype(&::name) name;
  OS_FUNCTIONS(OS_SLOT)
#undef OS_SLOT
};

// The table the product calls through. Tests may swap it for a fake machine.
extern OsTable os;

// The table of the real functions, for restoring `os`.
const OsTable& RealOs();
