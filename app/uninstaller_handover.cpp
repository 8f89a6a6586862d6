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
#include "common/security.h"
#include "common/temp_folder.h"
#include "common/trace.h"
#include "platform/os.h"
#include "uninstall/install_folder.h"

namespace {

constexpr DWORD kCopyWaitMs = 30 * 60 * 1000;      // the uninstall copy's whole run, at most
constexpr DWORD kFirstProcessWaitMs = 60 * 1000;  // the first process's end, once it has the result
constexpr wchar_t kCopyFolderPrefix[] = L"Tapstart-";
constexpr size_t kCopyFolderDigits = 8;
constexpr int kCopyFolderTries = 16;
// The copy's folder: SYSTEM and Administrators may change it, the account
// itself only read and run what is in it, and nothing is inherited from the
// temporary folder, which the account's unelevated programs can write. The
// owner's implicit right to change the DACL is limited the same way (OW), in
// case the account and not Administrators owns what it creates.
constexpr wchar_t kCopyFolderSecurity[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;%ws)(A;OICI;0x1200a9;;;OW)";

bool IsHexDigit(wchar_t c) { return std::iswxdigit(c) != 0; }

// A name of the copies' folders: "Tapstart-" and eight hexadecimal digits.
bool IsCopyFolderName(const wchar_t* name) {
  const size_t prefix = std::wcslen(kCopyFolderPrefix);
  if (_wcsnicmp(name, kCopyFolderPrefix, prefix) != 0) return false;
  for (size_t i = 0; i < kCopyFolderDigits; ++i) {
    if (!IsHexDigit(name[prefix + i])) return false;
  }
  return name[prefix + kCopyFolderDigits] == L'\0';
}

// The folder part of a path (without its last backslash), or empty.
PathText FolderOf(const wchar_t* path) {
  PathText folder = {};
  const wchar_t* last = std::wcsrchr(path, L'\\');
  if (last != nullptr && static_cast<size_t>(last - path) < kPathCapacity) {
    std::wmemcpy(folder.data(), path, static_cast<size_t>(last - path));
    folder.data()[last - path] = L'\0';
  }
  return folder;
}

// Starts a copy from its command line in its own folder (a copy started
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

// Whether a listed file of a folder ours may go: a plain file, no folder,
// no link to something else.
bool IsPlainFile(const WIN32_FIND_DATAW& entry) {
  return (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// uni<hex>.tmp, what GetTempFileNameW made of the prefix "unins" for the
// copies of earlier versions, directly in the temporary folder.
bool IsEarlierCopyName(const wchar_t* name) {
  if (_wcsnicmp(name, L"uni", 3) != 0) return false;
  size_t digits = 0;
  while (IsHexDigit(name[3 + digits])) ++digits;
  return digits >= 1 && digits <= 4 && _wcsicmp(name + 3 + digits, L".tmp") == 0;
}

// Copies that earlier uninstalls left (one ended by force before it could
// ask for its deletion): uni<hex>.tmp files of the temporary folder that hold
// this program's own bytes. A copy that still runs cannot be deleted and
// stays; any other file is never touched. With `delete_them` false they are
// only counted. How many were found.
int DeleteLeftoverCopies(const wchar_t* module_path, const wchar_t* temp_directory, bool delete_them) {
  PathText pattern = {};
  if (!BoundedFormat(pattern, L"%wsuni*.tmp", temp_directory)) return 0;
  WIN32_FIND_DATAW entry = {};
  ScopedFind find(os.FindFirstFileW(pattern.c_str(), &entry));
  if (!find) return 0;
  int found = 0;
  do {
    PathText path = {};
    if (!IsPlainFile(entry) || !IsEarlierCopyName(entry.cFileName) ||
        !BoundedFormat(path, L"%ws%ws", temp_directory, entry.cFileName) || !SameFileBytes(path.c_str(), module_path)) {
      continue;
    }
    ++found;
    if (!delete_them) continue;
    const BOOL deleted = os.DeleteFileW(path.c_str());
    trace("A copy an earlier uninstall left: %ws, deleted %d", path, deleted);
  } while (os.FindNextFileW(find.get(), &entry));
  return found;
}

// One folder an earlier copy left: it is one when it holds nothing but files
// with this program's bytes, and then, with `delete_them`, deleted; a copy
// that still runs keeps it. Whether it is one.
bool DeleteLeftoverFolder(const wchar_t* module_path, const wchar_t* folder, bool delete_them) {
  PathText pattern = {};
  if (!BoundedFormat(pattern, L"%ws\\*", folder)) return false;
  for (const bool deleting : {false, true}) {
    if (deleting && !delete_them) return true;
    WIN32_FIND_DATAW entry = {};
    ScopedFind find(os.FindFirstFileW(pattern.c_str(), &entry));
    if (!find) return false;
    do {
      if (std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0) continue;
      PathText path = {};
      const bool ours = IsPlainFile(entry) && BoundedFormat(path, L"%ws\\%ws", folder, entry.cFileName) &&
                        SameFileBytes(path.c_str(), module_path);
      if (!ours) return false;  // someone else's: the folder stays as it is
      if (deleting) os.DeleteFileW(path.c_str());
    } while (os.FindNextFileW(find.get(), &entry));
  }
  const BOOL deleted = os.RemoveDirectoryW(folder);
  trace("A folder an earlier uninstall left: %ws, deleted %d", folder, deleted);
  return true;
}

// The folders of the copies that earlier uninstalls left; how many.
int DeleteLeftoverFolders(const wchar_t* module_path, const wchar_t* temp_directory, bool delete_them) {
  PathText pattern = {};
  if (!BoundedFormat(pattern, L"%ws%ws*", temp_directory, kCopyFolderPrefix)) return 0;
  WIN32_FIND_DATAW entry = {};
  ScopedFind find(os.FindFirstFileW(pattern.c_str(), &entry));
  if (!find) return 0;
  int found = 0;
  do {
    // A link of that name leads to someone else's folder.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !IsCopyFolderName(entry.cFileName)) {
      continue;
    }
    PathText folder = {};
    if (BoundedFormat(folder, L"%ws%ws", temp_directory, entry.cFileName) &&
        DeleteLeftoverFolder(module_path, folder.c_str(), delete_them)) {
      ++found;
    }
  } while (os.FindNextFileW(find.get(), &entry));
  return found;
}

// A new folder for the copy in the temporary folder, made with the copy's
// DACL; never one that was there before. Its path goes to `folder`.
DWORD MakeCopyFolder(const wchar_t* temp_directory, PathText& folder) {
  WideText<192> account = {};
  if (!ReadAccountSid(account)) return GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_INVALID_SID;
  WideText<512> sddl = {};
  if (!BoundedFormat(sddl, kCopyFolderSecurity, account)) return ERROR_INVALID_SECURITY_DESCR;
  SecurityDescriptor descriptor(sddl.c_str());
  if (!descriptor) return ERROR_INVALID_SECURITY_DESCR;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};
  const DWORD seed = GetCurrentProcessId() ^ static_cast<DWORD>(os.GetTickCount64());
  for (int attempt = 0; attempt < kCopyFolderTries; ++attempt) {
    if (!BoundedFormat(folder, L"%ws%ws%08x", temp_directory, kCopyFolderPrefix, seed + attempt)) {
      return ERROR_FILENAME_EXCED_RANGE;
    }
    if (os.CreateDirectoryW(folder.c_str(), &attributes)) return ERROR_SUCCESS;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return GetLastError();
  }
  return ERROR_ALREADY_EXISTS;
}

}  // namespace

int LeftoverUninstallerCopies(bool delete_them) {
  WideText<kPathCapacity> module_path;
  PathText temp_directory;
  if (!ReadModulePath(module_path) || !ReadTemporaryFolder(temp_directory)) return 0;
  return DeleteLeftoverCopies(module_path.c_str(), temp_directory.c_str(), delete_them) +
         DeleteLeftoverFolders(module_path.c_str(), temp_directory.c_str(), delete_them);
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
  // <temporary folder>Tapstart-<8 hex digits>\unins000.exe
  const wchar_t* name = module_path + folder;
  const wchar_t* slash = std::wcschr(name, L'\\');
  if (slash == nullptr || _wcsicmp(slash + 1, kUninstallerName) != 0) return false;
  WideText<32> folder_name = {};
  if (static_cast<size_t>(slash - name) >= folder_name.kCapacity) return false;
  std::wmemcpy(folder_name.data(), name, static_cast<size_t>(slash - name));
  return IsCopyFolderName(folder_name.c_str());
}

void ScheduleDeletionOfRelaunchedCopy() {
  WideText<kPathCapacity> module_path;
  PathText temp_directory;
  if (!ReadModulePath(module_path) || !ReadTemporaryFolder(temp_directory)) return;
  if (!IsRelaunchedCopy(module_path.c_str(), temp_directory.c_str())) return;
  // The copy cannot delete itself while it runs; Windows does it at the next
  // start, in the order asked: the file, then its folder, empty by then.
  const BOOL scheduled = os.MoveFileExW(module_path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) &&
                         os.MoveFileExW(FolderOf(module_path.c_str()).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  trace("Deleting %ws and its folder at the next start: %d", module_path, scheduled);
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
  PathText temp_directory;
  PathText folder = {};
  PathText copy = {};
  if (!ReadModulePath(module_path)) return CopyFailed(L"GetModuleFileNameW", ERROR_FILENAME_EXCED_RANGE);
  if (!ReadTemporaryFolder(temp_directory)) return CopyFailed(L"GetTempPathW", GetLastError());
  DeleteLeftoverCopies(module_path.c_str(), temp_directory.c_str(), true);
  DeleteLeftoverFolders(module_path.c_str(), temp_directory.c_str(), true);
  // The copy runs where only administrators can change it or leave a DLL
  // beside it, between its copying and its start and while it runs.
  const DWORD made = MakeCopyFolder(temp_directory.c_str(), folder);
  if (made != ERROR_SUCCESS) return CopyFailed(L"CreateDirectoryW", made);
  if (!JoinPath(copy, folder.c_str(), kUninstallerName)) {
    os.RemoveDirectoryW(folder.c_str());
    return CopyFailed(L"CopyFileW", ERROR_FILENAME_EXCED_RANGE);
  }
  if (!os.CopyFileW(module_path.c_str(), copy.c_str(), TRUE)) {
    const DWORD error = GetLastError();
    os.RemoveDirectoryW(folder.c_str());
    return CopyFailed(L"CopyFileW", error);
  }

  WideText<kChildCommandLineCapacity> line;
  FormatRelaunchCommandLine(line, copy.c_str(), InstallDirectory.c_str(), SilentRun ? GetCurrentProcessId() : 0);
  // The lock is closed first, so that the copy never takes itself for a
  // second instance.
  lock.Close();
  StartedProcess started;
  if (!StartProcess(line.data(), started, folder.c_str())) {
    const DWORD error = GetLastError();
    trace("Could not start %ws, error:%u", line, error);
    os.DeleteFileW(copy.c_str());
    os.RemoveDirectoryW(folder.c_str());
    if (!SilentRun) return 0;
    return error != ERROR_SUCCESS ? static_cast<int>(error) : static_cast<int>(kInstallFailedExitCode);
  }
  // The dialog's copy runs on by itself; a silent run waits for the result.
  return SilentRun ? ExitCodeOf(started, kCopyWaitMs) : 0;
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
  WideText<kChildCommandLineCapacity> line = {};
  if (!ReadModulePath(module_path) ||
      !BoundedFormat(line, L"\"%ws\" /silence /finish /after=%u /result=%u %ws%ws%ws-u \"%ws", module_path,
                     first_process, static_cast<unsigned>(caller_result), LogPath()[0] != L'\0' ? L"/log=\"" : L"",
                     LogPath(), LogPath()[0] != L'\0' ? L"\" " : L"", InstallDirectory)) {
    trace("The folder %ws stays: no command line for its deletion", InstallDirectory);
    return;
  }
  lock.Close();
  // In the copy's own folder, as the copy itself runs.
  const PathText own_folder = FolderOf(module_path.c_str());
  StartDetached(line, own_folder.empty() ? nullptr : own_folder.c_str());
}
