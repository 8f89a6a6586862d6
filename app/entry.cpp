#include "app/entry.h"

#include <cwchar>
#include <iterator>
#include <cwctype>

#include "common/package.h"
#include "common/log.h"
#include "common/path.h"
#include "common/process.h"
#include "common/run_options.h"
#include "common/string_table.h"
#include "common/trace.h"
#include "install/install_worker.h"
#include "install/installer_dialog.h"
#include "platform/os.h"
#include "resources/resource_ids.h"
#include "uninstall/install_state.h"
#include "uninstall/install_folder.h"
#include "uninstall/silent_uninstall.h"
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
  os.InitCommonControlsEx(&classes);
  DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(template_id), nullptr, procedure, 0);
}

bool IsHexDigit(wchar_t c) { return std::iswxdigit(c) != 0; }

bool IsSilentOption(const wchar_t* argument) {
  for (const wchar_t* option : {L"/silence", L"/silent", L"/verysilent", L"/quiet", L"/q", L"/s"}) {
    if (_wcsicmp(argument, option) == 0) return true;
  }
  return false;
}

constexpr DWORD kCopyWaitMs = 30 * 60 * 1000;      // the uninstall copy's whole run, at most
constexpr DWORD kFirstProcessWaitMs = 60 * 1000;  // the first process's end, once it has the result

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

// Takes one named mutex; true when another instance holds it already. A
// mutex that another account made and this one may not open (a run as SYSTEM
// seen from a person's session) is held by another instance too.
bool TakeMutex(ScopedMutex& mutex, const wchar_t* name) {
  SetLastError(ERROR_SUCCESS);
  mutex.reset(os.CreateMutexW(nullptr, FALSE, name));
  const DWORD error = GetLastError();
  const bool taken = error == ERROR_ALREADY_EXISTS || (!mutex && error == ERROR_ACCESS_DENIED);
  // The handle of a second instance is left for Windows to close at exit.
  if (taken) mutex.take();
  return taken;
}

// One instance in the logon session, and one on the whole machine, so that a
// deployment in session 0 and a person's run never both stop the spooler.
SingleInstanceLock TakeSingleInstanceLock() {
  SingleInstanceLock lock;
  lock.second_instance = TakeMutex(lock.mutex, kSingleInstanceMutexName);
  if (!lock.second_instance) lock.second_instance = TakeMutex(lock.machine_mutex, kMachineMutexName);
  if (lock.second_instance) lock.Close();
  return lock;
}

// A function's name as the seam lists it (ASCII), for the trace.
WideText<64> FunctionName(const char* function) {
  WideText<64> name = {};
  for (size_t i = 0; function[i] != '\0' && i + 1 < name.kCapacity; ++i) name.data()[i] = static_cast<wchar_t>(function[i]);
  return name;
}

// Optional functions this Windows lacks, traced once the run is known to be
// the only one (a second instance writes nothing).
struct MissingFunction {
  const char* function;
  const wchar_t* dll;
};
MissingFunction MissingOptional[8] = {};
size_t MissingOptionalCount = 0;

void NoteMissingOptional(const char* function, const wchar_t* dll) {
  if (MissingOptionalCount < std::size(MissingOptional)) MissingOptional[MissingOptionalCount++] = {function, dll};
}

void TraceMissingOptional() {
  for (size_t i = 0; i < MissingOptionalCount; ++i) {
    trace("%ws has no %ws; what needs it reports error %u.", MissingOptional[i].dll,
          FunctionName(MissingOptional[i].function), ERROR_PROC_NOT_FOUND);
  }
}

// A function the program needs and Windows does not have: said in the trace,
// to a person in a message box, and as the exit code.
int ReportBindingFailure(const OsBinding& binding) {
  trace("Cannot bind %ws of %ws, error:%u", FunctionName(binding.function), binding.dll, binding.error);
  if (!SilentRun) {
    WideText<1024> text;
    WideText<1024> format;
    WideText<64> caption;
    LoadText(format, IDS_INSTALL_FAILED);
    BoundedFormat(text, format.c_str(), static_cast<int>(binding.error));
    LoadText(caption, IDS_MESSAGE_CAPTION);
    os.MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
  }
  return static_cast<int>(binding.error);
}

// Copies the program to a temporary file and starts that copy with "-u".
// The lock is closed first, so that the copy never takes itself for a second
// instance. A silent run waits for the copy and gives its exit code.
int RelaunchAsUninstaller(SingleInstanceLock& lock) {
  WideText<kPathCapacity> module_path;
  ReadModulePath(module_path);
  WideText<kTempDirectoryCapacity> temp_directory = {};
  WideText<kPathCapacity> temporary_copy = {};
  os.GetTempPathW(kTempDirectoryCapacity, temp_directory.data());
  os.GetTempFileNameW(temp_directory.c_str(), L"unins", 0, temporary_copy.data());
  os.CopyFileW(module_path.c_str(), temporary_copy.c_str(), FALSE);

  WideText<kChildCommandLineCapacity> line;
  FormatRelaunchCommandLine(line, temporary_copy.c_str(), InstallDirectory.c_str(),
                            SilentRun ? GetCurrentProcessId() : 0);
  lock.Close();
  if (!SilentRun) {
    StartDetached(line);
    return 0;
  }
  StartedProcess copy;
  if (!StartProcess(line.data(), copy)) {
    const DWORD error = GetLastError();
    trace("Could not start %ws, error:%u", line, error);
    return error != ERROR_SUCCESS ? static_cast<int>(error) : static_cast<int>(kInstallFailedExitCode);
  }
  return ExitCodeOf(copy, kCopyWaitMs);
}

// The last step of a silent uninstall, in a copy of its own: the folder is
// deleted once the first process, whose file lies in it, has ended.
int FinishUninstallAfter(DWORD first_process) {
  ScopedKernelHandle first(os.OpenProcess(SYNCHRONIZE, FALSE, first_process));
  if (first && os.WaitForSingleObject(first.get(), kFirstProcessWaitMs) != WAIT_OBJECT_0) {
    trace("The first uninstaller did not end; its folder is deleted anyway.");
  }
  DeleteInstallFolder(nullptr);
  return 0;
}

// Starts the step above from this program's own file, after closing the lock.
void StartFinishingCopy(SingleInstanceLock& lock, DWORD first_process) {
  WideText<kPathCapacity> module_path;
  WideText<kChildCommandLineCapacity> line = {};
  if (!ReadModulePath(module_path) ||
      !BoundedFormat(line, L"\"%ws\" /silence /finish /after=%u %ws%ws%ws-u \"%ws", module_path, first_process,
                     LogPath()[0] != L'\0' ? L"/log=\"" : L"", LogPath(), LogPath()[0] != L'\0' ? L"\" " : L"",
                     InstallDirectory)) {
    trace("The folder %ws stays: no command line for its deletion", InstallDirectory);
    return;
  }
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

// The options and exit codes, for a person who asked with "/?".
void ShowHelp() {
  WideText<1024> text;
  WideText<64> caption;
  LoadText(text, IDS_HELP);
  LoadText(caption, IDS_MESSAGE_CAPTION);
  os.MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
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
    } else if (IsSilentOption(args[i])) {
      options.silent = true;
    } else if (_wcsicmp(args[i], L"/finish") == 0) {
      options.finish = true;
    } else if (_wcsnicmp(args[i], L"/after=", 7) == 0) {
      options.after = static_cast<DWORD>(std::wcstoul(args[i] + 7, nullptr, 10));
    } else if (_wcsnicmp(args[i], L"/timeout=", 9) == 0) {
      // Seconds up to a day; anything else is no number of seconds.
      const unsigned long seconds = std::wcstoul(args[i] + 9, nullptr, 10);
      options.timeout_seconds = seconds <= 86400 ? static_cast<DWORD>(seconds) : 86400;
    } else if (_wcsicmp(args[i], L"/log") == 0) {
      options.log = true;
      options.log_path.clear();
    } else if (_wcsnicmp(args[i], L"/log=", 5) == 0) {
      options.log = true;
      options.log_refused = args[i][5] == L'\0' || !BoundedCopy(options.log_path, args[i] + 5);
    } else if (_wcsicmp(args[i], L"/stage") == 0) {
      options.stage = true;
    } else if (_wcsicmp(args[i], L"/?") == 0) {
      options.help = true;
    }
  }
  os.LocalFree(args);
  return options;
}

bool InteractiveWindowStation() {
  HWINSTA station = os.GetProcessWindowStation();
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  // Where it cannot be told, the run keeps its windows, as before.
  if (station == nullptr || !os.GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) {
    return true;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

RunMode SelectRunMode(const CommandLineOptions& options) {
  if (options.uninstall) {
    if (options.directory_refused) return RunMode::kRefusedDirectory;
    BoundedCopy(InstallDirectory, options.directory.c_str());
    if (options.silent && options.finish && options.after != 0) return RunMode::kFinishUninstall;
    return options.silent ? RunMode::kSilentUninstall : RunMode::kUninstallDialog;
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

  if (options.help) return RunMode::kHelp;
  // Staging alone looks neither for a printer nor at what is installed.
  if (options.stage && options.timeout_seconds == 0) return RunMode::kStage;
  if (IsUninstallerStem(name.c_str())) return RunMode::kRelaunchAsUninstaller;
  // A silent run never opens the uninstall dialog: the wanted state holds.
  if (ProbeInstallState() == InstallState::kInstalled) {
    return options.silent ? RunMode::kAlreadyInstalled : RunMode::kStartUninstaller;
  }
  return options.silent ? RunMode::kSilentInstall : RunMode::kInstallDialog;
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



int RunProgram(HINSTANCE instance, const wchar_t* tail) {
  MissingOptionalCount = 0;
  const OsBinding binding = BindOs(NoteMissingOptional);
  ModuleInstance = instance;
  SingleInstanceLock lock = TakeSingleInstanceLock();
  CommandLineOptions options = ParseCommandLine(tail);
  const bool unseen = !options.silent && !InteractiveWindowStation();
  if (unseen) options.silent = true;
  // Staging is a silent run of its own.
  if (options.stage && !options.uninstall) options.silent = true;
  SilentRun = options.silent;
  if (SilentRun) SearchTimeoutMs = options.timeout_seconds * 1000;
  // Nothing is changed when the log that was asked for cannot be written.
  if (options.log && (options.log_refused || !OpenLog(options.log_path.c_str(), tail, SilentRun))) {
    return kExitLogFailure;
  }
  if (unseen) trace("No one can see this run's windows: it runs silently.");
  if (binding.error != ERROR_SUCCESS) {
    const int code = ReportBindingFailure(binding);
    CloseLog(code);
    return code;
  }
  // A deployment tool is told to try again later; a person sees the copy that runs.
  if (lock.second_instance) {
    const int code = SilentRun ? kExitAlreadyRunning : 0;
    // No output of its own but the log that was asked for.
    LogLine(L"Another instance runs.");
    CloseLog(code);
    return code;
  }
  TraceMissingOptional();

  int exit_code = 0;
  switch (SelectRunMode(options)) {
    case RunMode::kUninstallDialog:
      ScheduleDeletionOfRelaunchedCopy();
      OpenDialog(IDD_UNINSTALL, UninstallDialogProc);
      break;
    case RunMode::kSilentUninstall: {
      ScheduleDeletionOfRelaunchedCopy();
      const SilentUninstallResult result = SilentUninstall(options.after == 0);
      if (result.folder_due && options.after != 0) StartFinishingCopy(lock, options.after);
      exit_code = result.exit_code;
      break;
    }
    case RunMode::kFinishUninstall:
      exit_code = FinishUninstallAfter(options.after);
      break;
    case RunMode::kRelaunchAsUninstaller:
      exit_code = RelaunchAsUninstaller(lock);
      break;
    case RunMode::kStartUninstaller:
      StartInstalledUninstaller(lock);
      break;
    case RunMode::kAlreadyInstalled:
      trace("The driver is installed already; nothing to do.");
      break;
    case RunMode::kSilentInstall: {
      // A deployment tool must not record a failed install as a success.
      const DWORD result = InstallWorker(nullptr);
      exit_code = result != 0 ? static_cast<int>(result) : SuccessExitCode();
      // No printer in time: the package is put in place for the printer to come.
      if (result == ERROR_TIMEOUT && options.stage) exit_code = StageDriverPackage();
      break;
    }
    case RunMode::kStage:
      exit_code = StageDriverPackage();
      break;
    case RunMode::kHelp:
      if (!SilentRun) ShowHelp();
      break;
    case RunMode::kInstallDialog:
      OpenDialog(IDD_INSTALLER, InstallerDialogProc);
      break;
    case RunMode::kRefusedDirectory:
    case RunMode::kSecondInstance:
      break;
  }
  lock.Close();
  CloseLog(exit_code);
  return exit_code;
}
