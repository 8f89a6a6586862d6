#include "app/entry.h"

#include <cwchar>
#include <cwctype>

#include "common/package.h"
#include "common/path.h"
#include "common/process.h"
#include "common/string_table.h"
#include "common/trace.h"
#include "install/install_worker.h"
#include "install/installer_dialog.h"
#include "platform/os.h"
#include "resources/resource_ids.h"
#include "uninstall/install_state.h"
#include "uninstall/uninstall_dialog.h"

namespace {

constexpr size_t kTempDirectoryCapacity = 256;

// Starts a child from its command line and lets it go: handles closed at once,
// nothing waited for.
void StartDetached(WideText<kChildCommandLineCapacity>& command_line) {
  StartedProcess child;
  if (!StartProcess(command_line.data(), child)) trace("Could not start %ws, error:%u", command_line, GetLastError());
}

// The program's own path; false (and the path empty) when Windows could not
// give it whole.
bool ReadModulePath(WideText<kPathCapacity>& path) {
  path.clear();
  const DWORD n = os.GetModuleFileNameW(nullptr, path.data(), kPathCapacity);
  if (n == 0 || n >= kPathCapacity) {
    path.clear();
    return false;
  }
  return true;
}

// Opens a modal dialog of the program. Its templates hold a tree view and
// progress bars, whose window classes must be registered before the first
// dialog is created.
void OpenDialog(int template_id, DLGPROC procedure) {
  INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&classes);
  DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(template_id), nullptr, procedure, 0);
}

bool IsHexDigit(wchar_t c) { return std::iswxdigit(c) != 0; }

// The temporary copy leaves nothing behind: it asks Windows to delete it at
// the next system start. Any other program file is left alone.
void ScheduleDeletionOfRelaunchedCopy() {
  WideText<kPathCapacity> module_path;
  ReadModulePath(module_path);
  WideText<kTempDirectoryCapacity> temp_directory = {};
  const DWORD length = os.GetTempPathW(kTempDirectoryCapacity, temp_directory.data());
  if (length == 0 || length >= kTempDirectoryCapacity) return;
  if (!IsRelaunchedCopy(module_path.c_str(), temp_directory.c_str())) return;
  // The copy cannot delete itself while it runs; Windows does it at the next start.
  const BOOL scheduled = os.MoveFileExW(module_path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  trace("Deleting %ws at the next start: %d", module_path, scheduled);
}

SingleInstanceLock TakeSingleInstanceLock() {
  SingleInstanceLock lock;
  SetLastError(ERROR_SUCCESS);
  lock.mutex.reset(os.CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName));
  lock.second_instance = GetLastError() == ERROR_ALREADY_EXISTS;
  // The handle of a second instance is left for Windows to close at exit.
  if (lock.second_instance) lock.mutex.take();
  return lock;
}

// Copies the program to a temporary file and starts that copy with "-u".
// The lock is closed first, so that the copy never takes itself for a second
// instance.
void RelaunchAsUninstaller(SingleInstanceLock& lock) {
  WideText<kPathCapacity> module_path;
  ReadModulePath(module_path);
  WideText<kTempDirectoryCapacity> temp_directory = {};
  WideText<kPathCapacity> temporary_copy = {};
  os.GetTempPathW(kTempDirectoryCapacity, temp_directory.data());
  os.GetTempFileNameW(temp_directory.c_str(), L"unins", 0, temporary_copy.data());
  os.CopyFileW(module_path.c_str(), temporary_copy.c_str(), FALSE);

  WideText<kChildCommandLineCapacity> line;
  FormatRelaunchCommandLine(line, temporary_copy.c_str(), InstallDirectory.c_str());
  lock.Close();
  StartDetached(line);
}

// Starts unins000.exe from InstallDirectory, after closing the lock.
void StartInstalledUninstaller(SingleInstanceLock& lock) {
  WideText<kChildCommandLineCapacity> line = {};
  BoundedFormat(line, L"\"%ws\\%ws\"", InstallDirectory, kUninstallerName);
  lock.Close();
  StartDetached(line);
}

}  // namespace

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



CommandLineOptions ParseCommandLine(const wchar_t* tail) {
  CommandLineOptions options;
  int count = 0;
  LPWSTR* args = os.CommandLineToArgvW(tail != nullptr ? tail : L"", &count);
  if (args == nullptr) return options;  // read as an empty command line
  for (int i = 0; i < count; ++i) {
    if (_wcsicmp(args[i], L"-u") == 0 && i + 1 < count) {
      options.uninstall = true;
      ++i;
      const wchar_t* folder = args[i];
      // A later "-u" replaces an earlier one, refusal included.
      options.directory_refused = folder[0] == L'\0' || !BoundedCopy(options.directory, folder);
      if (options.directory_refused) options.directory.clear();
    } else if (_wcsicmp(args[i], L"/silence") == 0) {
      options.silent = true;
    }
  }
  os.LocalFree(args);
  return options;
}

RunMode SelectRunMode(const CommandLineOptions& options) {
  if (options.uninstall) {
    if (options.directory_refused) return RunMode::kRefusedDirectory;
    BoundedCopy(InstallDirectory, options.directory.c_str());
    return RunMode::kUninstallDialog;
  }
  WideText<kPathCapacity> module_path;
  WideText<3> drive;
  WideText<256> directory;
  WideText<kPathCapacity> name;
  WideText<256> extension;
  if (!ReadModulePath(module_path) || !SplitPath(module_path.c_str(), drive, directory, name, extension) ||
      !BoundedFormat(InstallDirectory, L"%ws%ws", drive, directory) || InstallDirectory.empty()) {
    // A cut or empty folder is not used: no copy of a cut path, no uninstaller
    // from the drive's root. The install reports the path as too long.
    InstallDirectory.clear();
    trace("The program's own folder could not be read whole; nothing is used from it.");
    return options.silent ? RunMode::kSilentInstall : RunMode::kInstallDialog;
  }

  if (IsUninstallerStem(name.c_str())) return RunMode::kRelaunchAsUninstaller;
  if (ProbeInstallState() == InstallState::kInstalled) return RunMode::kStartUninstaller;
  return options.silent ? RunMode::kSilentInstall : RunMode::kInstallDialog;
}

void FormatRelaunchCommandLine(WideText<kChildCommandLineCapacity>& line,
                               const wchar_t* temporary_copy, const wchar_t* directory) {
  line = {};
  BoundedFormat(line, L"\"%ws\" -u \"%ws", temporary_copy, directory);
}



int RunProgram(HINSTANCE instance, const wchar_t* tail) {
  ModuleInstance = instance;
  SingleInstanceLock lock = TakeSingleInstanceLock();
  if (lock.second_instance) return 0;

  const CommandLineOptions options = ParseCommandLine(tail);
  int exit_code = 0;
  switch (SelectRunMode(options)) {
    case RunMode::kUninstallDialog:
      ScheduleDeletionOfRelaunchedCopy();
      OpenDialog(IDD_UNINSTALL, UninstallDialogProc);
      break;
    case RunMode::kRelaunchAsUninstaller:
      RelaunchAsUninstaller(lock);
      break;
    case RunMode::kStartUninstaller:
      StartInstalledUninstaller(lock);
      break;
    case RunMode::kSilentInstall:
      // A deployment tool must not record a failed install as a success.
      exit_code = static_cast<int>(InstallWorker(nullptr));
      break;
    case RunMode::kInstallDialog:
      OpenDialog(IDD_INSTALLER, InstallerDialogProc);
      break;
    case RunMode::kRefusedDirectory:
    case RunMode::kSecondInstance:
      break;
  }
  lock.Close();
  return exit_code;
}
