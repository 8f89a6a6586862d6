// The driver package beside the program and the program's own files: every
// name spelled once here, the folder they are found in, and the paths built
// from them.
//
//   <InstallDirectory>\vlm6v6.inf
//   <InstallDirectory>\<i386|arm|amd64|arm64>\vlm6drv6.dll, vlm6drv6ui.dll, vlm6mon.dll
//   <InstallDirectory>\dat\vlm6drv6.dat
//   <InstallDirectory>\unins000.exe
#pragma once

#include "common/text.h"
#include "platform/win.h"

using PathText = WideText<kPathCapacity>;

// --- names ----------------------------------------------------------------
constexpr wchar_t kPackageInfName[] = L"vlm6v6.inf";
constexpr wchar_t kDriverDll[] = L"vlm6drv6.dll";
constexpr wchar_t kConfigDll[] = L"vlm6drv6ui.dll";
constexpr wchar_t kDataFile[] = L"vlm6drv6.dat";
constexpr wchar_t kMonitorDll[] = L"vlm6mon.dll";
constexpr wchar_t kDataFolder[] = L"dat";
// The program under the name that makes it the uninstaller, and the data
// file an uninstaller of that name may keep beside it.
constexpr wchar_t kUninstallerName[] = L"unins000.exe";
constexpr wchar_t kUninstallerDataName[] = L"unins000.dat";

// Whether a file name without its extension is the uninstaller's: "unins000",
// with regard to case.
bool IsUninstallerStem(const wchar_t* stem);

// --- architectures ----------------------------------------------------------
// One processor architecture the package is built for: the value Windows
// reports, the package folder of its files and the spooler's environment name.
struct PackageArchitecture {
  WORD processor;
  const wchar_t* folder;
  const wchar_t* environment;
};

// Whether a folder name is one of the package's: an architecture folder or
// the data folder.
bool IsPackageFolderName(const wchar_t* name);
// This machine's native processor (PROCESSOR_ARCHITECTURE_*), not that of
// this process: an x64 tool on an ARM64 machine works with the ARM64 files.
WORD NativeProcessor();
// The row of that architecture, or null.
const PackageArchitecture* NativeArchitecture();
// The row of a processor architecture, or null for one the package lacks.
const PackageArchitecture* FindArchitecture(WORD processor);
// The spooler environment of the machine's own architecture ("Windows x64",
// "Windows ARM64"), or null for one the package lacks. Every spooler call
// that takes an environment is given this one: to the spooler a null one is
// the calling process's, and an x64 process that Windows on ARM64 emulates
// would work with x64 folders and records.
const wchar_t* MachineEnvironment();

// --- folders and paths -------------------------------------------------------
// The folder the program runs from (ending in a backslash), or the folder
// given after "-u", verbatim. The package and unins000.exe are found in it.
extern PathText InstallDirectory;

// InstallDirectory followed by vlm6v6.inf. Empty until FormDriverInfPath has
// set it, and left empty when InstallDirectory is empty or the path does not
// fit, so that nothing runs on a relative or cut path.
extern PathText DriverInfPath;
bool FormDriverInfPath();

// The paths below are formed whole or not at all: false when one does not
// fit its field (which is then empty), since a cut path could name another
// file.

// The package's folder in the driver store (ending in a backslash), once an
// upload put the package there: Windows has checked that copy against its
// signed catalog and keeps it where only it can change it, while the folder
// the program runs from may be anyone's. Empty until then.
extern PathText VerifiedPackageFolder;
// Takes the folder of the package's INF in the driver store as the one the
// package's files are read from.
void UseVerifiedPackage(const wchar_t* store_inf_path);

// <package>\<folder>\<file>: the package's verified copy in the driver store
// where there is one, InstallDirectory otherwise. InstallDirectory ends with
// a backslash, so the path holds two in a row, which Windows accepts.
bool PackageFilePath(PathText& path, const wchar_t* folder, const wchar_t* file_name);
// <folder>\<file>, with one backslash between them whether or not the folder
// ends with one.
bool JoinPath(PathText& path, const wchar_t* folder, const wchar_t* file_name);
// <system directory>\<file>.
bool SystemFilePath(PathText& path, const wchar_t* file_name);
