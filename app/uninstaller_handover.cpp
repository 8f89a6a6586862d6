#include "app/uninstaller_handover.h"

#include <cstring>
#include <cwchar>
#include <cwctype>

#include "app/entry.h"
#include "common/file_compare.h"
#include "common/log.h"
#include "common/package.h"
#include "common/process.h"
#include "common/run_options.h"
#include "common/scoped_handle.h"
#include "common/trace.h"
#include "platform/os.h"
#include "uninstall/install_folder.h"

namespace {

constexpr size_t kTempDirectoryCapacity = 256;
constexpr DWORD kCopyWaitMs = 30 * 60 * 1000;      // the uninstall copy's whole run, at most
constexpr DWORD kFirstProcessWaitMs = 60 * 1000;  // the first process's end, once it has the result

bool IsHexDigit(wchar_t c) { return std::iswxdigit(c) != 0; }

// The temporary folder, where the copies run from; false when Windows could
// not give it whole.
bool ReadTempDirectory(WideText<kTempDirectoryCapacity>& folder) {
  folder = {};
  const DWORD length = os.GetTempPathW(kTempDirectoryCapacity, folder.data());
  if (length == 0 || length >= kTempDirectoryCapacity) {
    folder = {};
    return false;
  }
  return true;
}

// Starts a copy from its command line in the temporary folder (a copy started
// from inside InstallDirectory would keep that folder from being deleted)
// and lets it go: handles closed at once, nothing waited for.
void StartDetached(WideText<kChildCommandLineCapacity>& command_line, const wchar_t* folder) {
  StartedProcess child;
  if (!StartProcess(command_line.data(), child, folder)) {
    trace("Could not start %ws, error:%u", command_line, GetLastError());
  }
}

// Waits for a started program and gives its exit code; a program that does
// not end in time gives ERROR_TIMEOUT.
int ExitCodeOf(StartedProcess& child, DWORD wait_ms) {
  if (os.WaitForSingleObject(child.process.get(), wait_ms) != WAIT_OBJECT_0) {
    trace("The uninstaller copy did not end in time.");
    return ERROR_TIMEOUT;
  }
  DWORD code = kInstallFailedExitCode;
  if (!os.GetExitCodeProcess(child.process.get(), &code)) code = kInstallFailedExitCode;
  return static_cast<int>(code);
}

// A copy that could not be made: traced, and the exit code of a silent run.
int CopyFailed(const wchar_t* what, DWORD error) {
  trace("The uninstaller copy could not be made: %ws failed, error:%u", what, error);
  if (!SilentRun) return 0;
  return error != ERROR_SUCCESS ? static_cast<int>(error) : static_cast<int>(kInstallFailedExitCode);
}

// Temporary copies that earlier uninstalls left (one ended by force before
// it could ask for its deletion): uni<hex>.tmp files of the temporary folder
// that hold this program's own bytes. A copy that still runs cannot be
// deleted and stays; any other file is never touched. With `delete_them`
// false they are only counted. How many were found.
int DeleteLeftoverCopies(const wchar_t* module_path, const wchar_t* temp_directory, bool delete_them = true) {
  WideText<kPathCapacity> pattern = {};
  if (!BoundedFormat(pattern, L"%wsuni*.tmp", temp_directory)) return 0;
  WIN32_FIND_DATAW entry = {};
  ScopedFind find(os.FindFirstFileW(pattern.c_str(), &entry));
  if (!find) return 0;
  int found = 0;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    WideText<kPathCapacity> path = {};
    if (!BoundedFormat(path, L"%ws%ws", temp_directory, entry.cFileName)) continue;
    if (!IsRelaunchedCopy(path.c_str(), temp_directory) || !SameFileBytes(path.c_str(), module_path)) continue;
    ++found;
    if (!delete_them) continue;
    const BOOL deleted = os.DeleteFileW(path.c_str());
    trace("A copy an earlier uninstall left: %ws, deleted %d", path, deleted);
  } while (os.FindNextFileW(find.get(), &entry));
  return found;
}

}  // namespace

int LeftoverUninstallerCopies(bool delete_them) {
  WideText<kPathCapacity> module_path;
  WideText<kTempDirectoryCapacity> temp_directory;
  if (!ReadModulePath(module_path) || !ReadTempDirectory(temp_directory)) return 0;
  return DeleteLeftoverCopies(module_path.c_str(), temp_directory.c_str(), delete_them);
}

bool ReadModulePath(WideText<kPathCapacity>& path) {
  path.clear();
  const DWORD n = os.GetModuleFileNameW(nullptr, path.data(), kPathCapacity);
  if (n == 0 || n >= kPathCapacity) {
    path.clear();
    return false;
  }
  return true;
}

bool IsRelaunchedCopy(const wchar_t* module_path, const wchar_t* temp_directory) {
  const size_t folder = std::wcslen(temp_directory);
  if (folder == 0 || temp_directory[folder - 1] != L'\\') return false;
  if (_wcsnicmp(module_path, temp_directory, folder) != 0) return false;
  // What GetTempFileNameW makes of the prefix "unins": uni, 1 to 4 hex digits, .tmp
  const wchar_t* name = module_path + folder;
  if (_wcsnicmp(name, L"uni", 3) != 0) return false;
  size_t digits = 0;
  while (IsHexDigit(name[3 + digits])) ++digits;
  return digits >= 1 && digits <= 4 && _wcsicmp(name + 3 + digits, L".tmp") == 0;
}

void ScheduleDeletionOfRelaunchedCopy() {
  WideText<kPathCapacity> module_path;
  WideText<kTempDirectoryCapacity> temp_directory;
  if (!ReadModulePath(module_path) || !ReadTempDirectory(temp_directory)) return;
  if (!IsRelaunchedCopy(module_path.c_str(), temp_directory.c_str())) return;
  // The copy cannot delete itself while it runs; Windows does it at the next start.
  const BOOL scheduled = os.MoveFileExW(module_path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  trace("Deleting %ws at the next start: %d", module_path, scheduled);
}

void FormatRelaunchCommandLine(WideText<kChildCommandLineCapacity>& line,
                               const wchar_t* temporary_copy, const wchar_t* directory, DWORD silent_parent) {
  line = {};
  // Options go before "-u": what follows it is the folder. The copy logs to
  // the same file.
  WideText<kPathCapacity + 64> options = {};
  if (silent_parent != 0) BoundedFormat(options, L"/silence /after=%u ", silent_parent);
  if (LogPath()[0] != L'\0') {
    WideText<kPathCapacity + 16> log = {};
    BoundedFormat(log, L"/log=\"%ws\" ", LogPath());
    WideText<kPathCapacity + 64> both = {};
    BoundedFormat(both, L"%ws%ws", options, log);
    options = both;
  }
  BoundedFormat(line, L"\"%ws\" %ws-u \"%ws", temporary_copy, options, directory);
}

int RelaunchAsUninstaller(SingleInstanceLock& lock) {
  WideText<kPathCapacity> module_path;
  WideText<kTempDirectoryCapacity> temp_directory;
  WideText<kPathCapacity> temporary_copy = {};
  if (!ReadModulePath(module_path)) return CopyFailed(L"GetModuleFileNameW", ERROR_FILENAME_EXCED_RANGE);
  if (!ReadTempDirectory(temp_directory)) return CopyFailed(L"GetTempPathW", GetLastError());
  DeleteLeftoverCopies(module_path.c_str(), temp_directory.c_str());
  if (os.GetTempFileNameW(temp_directory.c_str(), L"unins", 0, temporary_copy.data()) == 0) {
    return CopyFailed(L"GetTempFileNameW", GetLastError());
  }
  if (!os.CopyFileW(module_path.c_str(), temporary_copy.c_str(), FALSE)) {
    const DWORD error = GetLastError();
    os.DeleteFileW(temporary_copy.c_str());  // the empty file GetTempFileNameW made
    return CopyFailed(L"CopyFileW", error);
  }

  WideText<kChildCommandLineCapacity> line;
  FormatRelaunchCommandLine(line, temporary_copy.c_str(), InstallDirectory.c_str(),
                            SilentRun ? GetCurrentProcessId() : 0);
  // The lock is closed first, so that the copy never takes itself for a
  // second instance.
  lock.Close();
  if (!SilentRun) {
    StartDetached(line, temp_directory.c_str());
    return 0;
  }
  StartedProcess copy;
  if (!StartProcess(line.data(), copy, temp_directory.c_str())) {
    const DWORD error = GetLastError();
    trace("Could not start %ws, error:%u", line, error);
    os.DeleteFileW(temporary_copy.c_str());
    return error != ERROR_SUCCESS ? static_cast<int>(error) : static_cast<int>(kInstallFailedExitCode);
  }
  return ExitCodeOf(copy, kCopyWaitMs);
}

int FinishUninstallAfter(DWORD first_process) {
  ScopedKernelHandle first(os.OpenProcess(SYNCHRONIZE, FALSE, first_process));
  if (first && os.WaitForSingleObject(first.get(), kFirstProcessWaitMs) != WAIT_OBJECT_0) {
    trace("The first uninstaller did not end; its folder is deleted anyway.");
  }
  DeleteInstallFolder(nullptr);
  return 0;
}

void StartFinishingCopy(SingleInstanceLock& lock, DWORD first_process, int caller_result) {
  WideText<kPathCapacity> module_path;
  WideText<kTempDirectoryCapacity> temp_directory;
  WideText<kChildCommandLineCapacity> line = {};
  if (!ReadModulePath(module_path) || !ReadTempDirectory(temp_directory) ||
      !BoundedFormat(line, L"\"%ws\" /silence /finish /after=%u /result=%u %ws%ws%ws-u \"%ws", module_path,
                     first_process, static_cast<unsigned>(caller_result), LogPath()[0] != L'\0' ? L"/log=\"" : L"",
                     LogPath(), LogPath()[0] != L'\0' ? L"\" " : L"", InstallDirectory)) {
    trace("The folder %ws stays: no command line for its deletion", InstallDirectory);
    return;
  }
  lock.Close();
  StartDetached(line, temp_directory.c_str());
}

void StartInstalledUninstaller(SingleInstanceLock& lock) {
  WideText<kChildCommandLineCapacity> line = {};
  BoundedFormat(line, L"\"%ws\\%ws\"", InstallDirectory, kUninstallerName);
  lock.Close();
  StartDetached(line, nullptr);
}
