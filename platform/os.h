// The seam between the tool and the machine it changes.
//
// Every call that reads or changes the machine goes through `os`, a table of
// function pointers with the exact Windows signatures. Call sites read like
// plain Win32 code with one prefix: os.OpenPrinterW(...). Window and dialog
// calls do not go through it.
//
// The program runs elevated from folders where anyone may leave a file, so it
// imports only DLLs that Windows always takes from the system directory. The
// functions of every other DLL are bound at start by BindOs, from the system
// directory alone; until then (and where a DLL lacks one) a slot answers
// ERROR_PROC_NOT_FOUND.
#pragma once

#include <type_traits>

#include "platform/win.h"

// X(name) for every function imported from a system DLL that Windows never
// searches for beside the program.
#define OS_LINKED_FUNCTIONS(X)                                               \
  /* device installation */                                                  \
  X(SetupDiGetClassDevsW) X(SetupDiGetClassDevsExW)                          \
  X(SetupDiEnumDeviceInterfaces) X(SetupDiGetDeviceInterfaceDetailW)         \
  X(SetupDiEnumDeviceInfo) X(SetupDiGetDeviceRegistryPropertyW)              \
  X(SetupDiRemoveDevice) X(SetupDiDestroyDeviceInfoList)                     \
  X(SetupDiClassGuidsFromNameW) X(SetupGetInfInformationW)                   \
  X(SetupQueryInfVersionInformationW) X(CM_Locate_DevNodeW)                  \
  X(CM_Reenumerate_DevNode)                                                  \
  /* services */                                                             \
  X(OpenSCManagerW) X(OpenServiceW) X(QueryServiceStatusEx)                  \
  X(ControlService) X(StartServiceW) X(CloseServiceHandle)                   \
  X(EnumDependentServicesW)                                                  \
  /* registry */                                                             \
  X(RegOpenKeyExW) X(RegOpenKeyW) X(RegEnumKeyW) X(RegQueryValueExW)         \
  X(RegGetValueW) X(RegCloseKey)                                             \
  X(OpenProcessToken) X(LookupPrivilegeValueW) X(AdjustTokenPrivileges)      \
  X(GetTokenInformation) X(GetNamedSecurityInfoW)                           \
  /* files, heap, processes, system */                                       \
  X(CopyFileW) X(DeleteFileW) X(MoveFileExW) X(GetTempPathW)                 \
  X(GetFileAttributesW) X(FindFirstFileW) X(FindNextFileW) X(FindClose)     \
  X(GetPrivateProfileSectionW) X(GetPrivateProfileStringW)                   \
  X(GetTempFileNameW) X(GetSystemDirectoryW) X(GetModuleFileNameW)           \
  X(CreateProcessW) X(CloseHandle) X(CreateMutexW) X(ReleaseMutex)           \
  X(ProcessIdToSessionId)                                                    \
  X(LocalAlloc) X(LocalFree) X(Sleep) X(OutputDebugStringW)                  \
  X(WaitForSingleObject) X(GetExitCodeProcess) X(OpenProcess) X(GetTickCount64) \
  X(GetProcessWindowStation) X(GetUserObjectInformationW)                    \
  X(CreateFileW) X(WriteFile) X(ReadFile) X(GetLocalTime) X(GetUserNameW)     \
  X(GetFileInformationByHandle) X(GetFinalPathNameByHandleW) X(GetFullPathNameW) \
  X(CreateDirectoryW) X(RemoveDirectoryW)                                    \
  X(GetNativeSystemInfo) X(CommandLineToArgvW) X(SHFileOperationW)           \
  X(SHChangeNotify) X(MessageBoxW) X(WideCharToMultiByte) X(GetStdHandle)   \
  /* binding the rest */                                                     \
  X(SetDefaultDllDirectories) X(LoadLibraryExW) X(GetProcAddress)

// L(X, dll, name, ordinal, need) for every function bound at start: its DLL
// (an OsDll), the ordinal it is bound by (0: by name), and whether the
// program can start without it (kOptional: only the road that calls it fails).
#define OS_LOADED_FUNCTIONS(L, X)                                            \
  /* spooler */                                                              \
  L(X, kWinspool, OpenPrinterW, 0, kRequired)                                \
  L(X, kWinspool, ClosePrinter, 0, kRequired)                                \
  L(X, kWinspool, AddPrinterW, 0, kRequired)                                 \
  L(X, kWinspool, DeletePrinter, 0, kRequired)                               \
  L(X, kWinspool, SetPrinterW, 0, kRequired)                                 \
  L(X, kWinspool, GetPrinterW, 0, kRequired)                                 \
  L(X, kWinspool, EnumPrintersW, 0, kRequired)                               \
  L(X, kWinspool, EnumPrinterDriversW, 0, kRequired)                         \
  L(X, kWinspool, AddPrinterDriverW, 0, kRequired)                           \
  L(X, kWinspool, AddPrinterDriverExW, 0, kRequired)                         \
  L(X, kWinspool, DeletePrinterDriverExW, 0, kRequired)                      \
  L(X, kWinspool, AddMonitorW, 0, kRequired)                                 \
  L(X, kWinspool, DeleteMonitorW, 0, kRequired)                              \
  L(X, kWinspool, EnumMonitorsW, 0, kRequired)                               \
  L(X, kWinspool, EnumPortsW, 0, kRequired)                                  \
  L(X, kWinspool, GetPrinterDriverDirectoryW, 0, kRequired)                  \
  L(X, kWinspool, UploadPrinterDriverPackageW, 0, kRequired)                 \
  L(X, kWinspool, DeletePrinterDriverPackageW, 0, kOptional)                 \
  L(X, kWinspool, InstallPrinterDriverFromPackageW, 0, kOptional)            \
  L(X, kWinspool, EnumJobsW, 0, kRequired)                                   \
  /* device installation */                                                  \
  L(X, kNewdev, UpdateDriverForPlugAndPlayDevicesW, 0, kRequired)            \
  /* system: newer than some Windows the program meets */                    \
  L(X, kKernel32, IsWow64Process2, 0, kOptional)                             \
  L(X, kKernel32, GetTempPath2W, 0, kOptional)                               \
  /* the machine-wide lock's private namespace: Wine 8 lacks them */         \
  L(X, kKernel32, CreateBoundaryDescriptorW, 0, kOptional)                   \
  L(X, kKernel32, AddSIDToBoundaryDescriptor, 0, kOptional)                  \
  L(X, kKernel32, DeleteBoundaryDescriptor, 0, kOptional)                    \
  L(X, kKernel32, CreatePrivateNamespaceW, 0, kOptional)                     \
  L(X, kKernel32, OpenPrivateNamespaceW, 0, kOptional)                       \
  L(X, kKernel32, ClosePrivateNamespace, 0, kOptional)                       \
  L(X, kShell32, RestartDialogEx, 730, kOptional) /* by ordinal alone */     \
  /* the dialogs' window classes */                                          \
  L(X, kComctl32, InitCommonControlsEx, 0, kRequired)

// Every function of the table, linked or bound: X(name).
#define OS_LOADED_NAME(X, dll, name, ordinal, need) X(name)
#define OS_FUNCTIONS(X) OS_LINKED_FUNCTIONS(X) OS_LOADED_FUNCTIONS(OS_LOADED_NAME, X)

// The DLLs the bound functions come from, each loaded from the system
// directory alone.
enum OsDll { kWinspool, kNewdev, kComctl32, kKernel32, kShell32, kOsDllCount };
// The file name of each, as LoadLibraryExW is given it.
constexpr const wchar_t* kOsDllNames[kOsDllCount] = {L"winspool.drv", L"newdev.dll", L"comctl32.dll",
                                                     L"kernel32.dll", L"shell32.dll"};
enum OsNeed { kRequired, kOptional };

struct OsTable {
#define OS_SLOT(name) decltype(&::name) name;
  OS_FUNCTIONS(OS_SLOT)
#undef OS_SLOT
};

// The table the product calls through. Tests may swap it for a fake machine.
extern OsTable os;

// What a slot answers while its function is not bound: ERROR_PROC_NOT_FOUND,
// as the thread's last error and, for functions that return an HRESULT, as
// their result; every other result reads as a failure.
template <typename F>
struct OsUnbound;
template <typename R, typename... A>
struct OsUnbound<R (*)(A...)> {
  static R WINAPI Call(A...) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    if constexpr (std::is_same_v<R, HRESULT>) {
      return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    } else if constexpr (!std::is_void_v<R>) {
      return R{};
    }
  }
};

// Whether a slot of `os` holds a function: false for an optional one this
// Windows lacks.
template <auto Slot>
bool OsHas() {
  return os.*Slot != &OsUnbound<std::remove_reference_t<decltype(os.*Slot)>>::Call;
}

// The table of the real functions, for restoring `os`: the linked ones, and
// the bound ones as the last BindOs found them.
const OsTable& RealOs();

// What BindOs found: ERROR_SUCCESS, or ERROR_MOD_NOT_FOUND (126) for a DLL
// that could not be loaded, ERROR_PROC_NOT_FOUND (127) for a required
// function it lacks; `function` and `dll` name the first one missing.
struct OsBinding {
  DWORD error = ERROR_SUCCESS;
  const char* function = "";
  const wchar_t* dll = L"";
};

// Limits DLL searches to the system directory and binds every loaded slot of
// `os` through os.LoadLibraryExW and os.GetProcAddress. An optional function
// that is missing keeps its ERROR_PROC_NOT_FOUND answer and is handed to
// `missing_optional`; a missing required one stops the binding.
OsBinding BindOs(void (*missing_optional)(const char* function, const wchar_t* dll));
