#include "common/package.h"

#include <cwchar>

#include "platform/os.h"

PathText InstallDirectory = {};
PathText DriverInfPath = {};
PathText VerifiedPackageFolder = {};

namespace {

constexpr PackageArchitecture kArchitectures[] = {
    {PROCESSOR_ARCHITECTURE_INTEL, L"i386", L"Windows NT x86"},
    {PROCESSOR_ARCHITECTURE_ARM, L"arm", L"Windows ARM"},
    {PROCESSOR_ARCHITECTURE_AMD64, L"amd64", L"Windows x64"},
    {PROCESSOR_ARCHITECTURE_ARM64, L"arm64", L"Windows ARM64"},
};

bool EndsWithSeparator(const wchar_t* folder) {
  const size_t length = std::wcslen(folder);
  return length > 0 && (folder[length - 1] == L'\\' || folder[length - 1] == L'/');
}

template <typename... A>
bool FormWhole(PathText& path, const wchar_t* format, const A&... parts) {
  if (BoundedFormat(path, format, parts...)) return true;
  path.clear();
  return false;
}

}  // namespace

const PackageArchitecture* FindArchitecture(WORD processor) {
  for (const PackageArchitecture& row : kArchitectures) {
    if (row.processor == processor) return &row;
  }
  return nullptr;
}

bool IsUninstallerStem(const wchar_t* stem) {
  const wchar_t* dot = std::wcschr(kUninstallerName, L'.');
  const size_t length = static_cast<size_t>(dot - kUninstallerName);
  return stem != nullptr && std::wcsncmp(stem, kUninstallerName, length) == 0 && stem[length] == L'\0';
}

bool IsPackageFolderName(const wchar_t* name) {
  if (name == nullptr) return false;
  if (std::wcscmp(name, kDataFolder) == 0) return true;
  for (const PackageArchitecture& row : kArchitectures) {
    if (std::wcscmp(name, row.folder) == 0) return true;
  }
  return false;
}

WORD NativeProcessor() {
  // An x64 process that Windows on ARM emulates is told AMD64 by
  // GetNativeSystemInfo; IsWow64Process2 names the machine itself. Windows
  // before 10 1709 lacks it, and then the system information is all there is.
  USHORT process_machine = IMAGE_FILE_MACHINE_UNKNOWN;
  USHORT native_machine = IMAGE_FILE_MACHINE_UNKNOWN;
  if (os.IsWow64Process2(GetCurrentProcess(), &process_machine, &native_machine)) {
    switch (native_machine) {
      case IMAGE_FILE_MACHINE_ARM64: return PROCESSOR_ARCHITECTURE_ARM64;
      case IMAGE_FILE_MACHINE_AMD64: return PROCESSOR_ARCHITECTURE_AMD64;
      case IMAGE_FILE_MACHINE_I386: return PROCESSOR_ARCHITECTURE_INTEL;
      case IMAGE_FILE_MACHINE_ARMNT: return PROCESSOR_ARCHITECTURE_ARM;
      default: break;
    }
  }
  SYSTEM_INFO system = {};
  os.GetNativeSystemInfo(&system);
  return system.wProcessorArchitecture;
}

const PackageArchitecture* NativeArchitecture() { return FindArchitecture(NativeProcessor()); }

const wchar_t* MachineEnvironment() {
  const PackageArchitecture* architecture = NativeArchitecture();
  return architecture != nullptr ? architecture->environment : nullptr;
}

bool FormDriverInfPath() {
  // Without its folder the INF path would be relative: whatever file of that
  // name lies in the current folder.
  if (InstallDirectory.empty()) {
    DriverInfPath.clear();
    return false;
  }
  return FormWhole(DriverInfPath, L"%ws%ws", InstallDirectory, kPackageInfName);
}

void UseVerifiedPackage(const wchar_t* store_inf_path) {
  VerifiedPackageFolder.clear();
  const wchar_t* slash = store_inf_path != nullptr ? std::wcsrchr(store_inf_path, L'\\') : nullptr;
  if (slash == nullptr) return;
  const size_t length = static_cast<size_t>(slash - store_inf_path) + 1;
  // A folder that does not fit is not used cut short.
  if (length >= kPathCapacity) return;
  std::wmemcpy(VerifiedPackageFolder.data(), store_inf_path, length);
  VerifiedPackageFolder.chars[length] = L'\0';
}

bool PackageFilePath(PathText& path, const wchar_t* folder, const wchar_t* file_name) {
  const PathText& package = VerifiedPackageFolder.empty() ? InstallDirectory : VerifiedPackageFolder;
  return FormWhole(path, L"%ws\\%ws\\%ws", package, folder, file_name);
}

bool JoinPath(PathText& path, const wchar_t* folder, const wchar_t* file_name) {
  if (folder == nullptr) return FormWhole(path, L"");
  return FormWhole(path, EndsWithSeparator(folder) ? L"%ws%ws" : L"%ws\\%ws", folder, file_name);
}

bool SystemFilePath(PathText& path, const wchar_t* file_name) {
  PathText system = {};
  const UINT length = os.GetSystemDirectoryW(system.data(), kPathCapacity);
  if (length == 0 || length >= kPathCapacity) {
    path.clear();
    return false;
  }
  return FormWhole(path, L"%ws\\%ws", system, file_name);
}
