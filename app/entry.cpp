#include "app/entry.h"

#include <iterator>

#include "app/package_folder.h"
#include "app/uninstaller_handover.h"
#include "common/log.h"
#include "common/package.h"
#include "common/path.h"
#include "common/run_options.h"
#include "common/security.h"
#include "common/service_control.h"
#include "common/string_table.h"
#include "common/trace.h"
#include "install/check_repair.h"
#include "install/install_worker.h"
#include "install/installer_dialog.h"
#include "install/upgrade.h"
#include "platform/os.h"
#include "resources/resource_ids.h"
#include "uninstall/install_state.h"
#include "uninstall/silent_uninstall.h"
#include "uninstall/uninstall_dialog.h"

namespace {

// Opens a modal dialog of the program. Its templates hold a tree view and
// progress bars, whose window classes must be registered before the first
// dialog is created.
void OpenDialog(int template_id, DLGPROC procedure) {
  INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
  os.InitCommonControlsEx(&classes);
  DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(template_id), nullptr, procedure, 0);
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

// Who may open the lock's namespace: SYSTEM and Administrators, so that no
// other process can reach the lock in it.
constexpr wchar_t kLockNamespaceSecurity[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)";

enum class MachineLock { kHeld, kTaken, kUnavailable };

MachineLock MachineLockUnavailable(SingleInstanceLock& lock, const wchar_t* call, DWORD error) {
  lock.machine_lock_failure = call;
  lock.machine_lock_error = error;
  lock.machine_namespace.reset();
  return MachineLock::kUnavailable;
}

// The lock on the whole machine, in the private namespace that only
// administrators can make or open: made (or opened, where another instance
// made it) and the mutex taken in it.
MachineLock TakeMachineLock(SingleInstanceLock& lock) {
  // They come with one another; without any of them none is used, so that
  // nothing made here is left open.
  const struct {
    bool there;
    const wchar_t* name;
  } functions[] = {{OsHas<&OsTable::CreateBoundaryDescriptorW>(), L"CreateBoundaryDescriptorW"},
                   {OsHas<&OsTable::AddSIDToBoundaryDescriptor>(), L"AddSIDToBoundaryDescriptor"},
                   {OsHas<&OsTable::DeleteBoundaryDescriptor>(), L"DeleteBoundaryDescriptor"},
                   {OsHas<&OsTable::CreatePrivateNamespaceW>(), L"CreatePrivateNamespaceW"},
                   {OsHas<&OsTable::OpenPrivateNamespaceW>(), L"OpenPrivateNamespaceW"},
                   {OsHas<&OsTable::ClosePrivateNamespace>(), L"ClosePrivateNamespace"}};
  for (const auto& function : functions) {
    if (!function.there) return MachineLockUnavailable(lock, function.name, ERROR_PROC_NOT_FOUND);
  }
  BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof(administrators);
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) {
    return MachineLockUnavailable(lock, L"CreateWellKnownSid", GetLastError());
  }
  ScopedBoundary boundary(os.CreateBoundaryDescriptorW(kLockNamespace, 0));
  if (!boundary) return MachineLockUnavailable(lock, L"CreateBoundaryDescriptorW", GetLastError());
  // The descriptor may move as it grows.
  HANDLE grown = boundary.take();
  const BOOL added = os.AddSIDToBoundaryDescriptor(&grown, administrators);
  boundary.reset(grown);
  if (!added) return MachineLockUnavailable(lock, L"AddSIDToBoundaryDescriptor", GetLastError());
  const SecurityDescriptor descriptor(kLockNamespaceSecurity);
  if (!descriptor) {
    return MachineLockUnavailable(lock, L"ConvertStringSecurityDescriptorToSecurityDescriptorW", GetLastError());
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};
  lock.machine_namespace.reset(os.CreatePrivateNamespaceW(&attributes, boundary.get(), kLockNamespace));
  if (!lock.machine_namespace) {
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) return MachineLockUnavailable(lock, L"CreatePrivateNamespaceW", error);
    // Another instance made it: the lock is looked for in it.
    lock.machine_namespace.reset(os.OpenPrivateNamespaceW(boundary.get(), kLockNamespace));
    if (!lock.machine_namespace) return MachineLockUnavailable(lock, L"OpenPrivateNamespaceW", GetLastError());
  }
  if (TakeMutex(lock.machine_mutex, kMachineMutexName)) return MachineLock::kTaken;
  if (!lock.machine_mutex) return MachineLockUnavailable(lock, L"CreateMutexW", GetLastError());
  return MachineLock::kHeld;
}

// Whether the run is in session 0, where services and SYSTEM runs of
// deployment tools run; false when it cannot be told.
bool InSessionZero() {
  DWORD session = 0;
  return os.ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0;
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
MissingFunction MissingOptional[16] = {};
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

// The options and exit codes, for a person who asked with "/?".
void ShowHelp() {
  WideText<1024> text;
  WideText<64> caption;
  LoadText(text, IDS_HELP);
  LoadText(caption, IDS_MESSAGE_CAPTION);
  os.MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
}

}  // namespace

// One instance on the whole machine, and one in the logon session, so that a
// deployment in session 0 and a person's run never both stop the spooler.
SingleInstanceLock TakeSingleInstanceLock() {
  SingleInstanceLock lock;
  const MachineLock machine = TakeMachineLock(lock);
  if (machine == MachineLock::kTaken) {
    lock.second_instance = lock.held_on_machine = true;
  } else if (machine == MachineLock::kUnavailable || !InSessionZero()) {
    // In session 0 a name without prefix is one of the global namespace,
    // which any account may take first: there the machine's lock stands
    // for the session's.
    lock.second_instance = TakeMutex(lock.mutex, kSingleInstanceMutexName);
  }
  if (lock.second_instance) lock.Close();
  return lock;
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

RunMode SelectRunMode(const CommandLineOptions& options, DWORD* failure) {
  // Every run reads the package from its own folder until its own upload
  // puts it into the driver store.
  VerifiedPackageFolder.clear();
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
  // The check and the repair look at what is installed themselves.
  if (options.check) return RunMode::kCheck;
  if (options.repair) return RunMode::kRepair;
  // Staging alone looks neither for a printer nor at what is installed.
  if (options.stage && options.timeout_seconds == 0) return RunMode::kStage;
  if (IsUninstallerStem(name.c_str())) return RunMode::kRelaunchAsUninstaller;
  // The spooler answers nothing while it is stopped (an earlier run may have
  // been ended so): it is started before it is asked.
  DWORD cannot_tell = StartSpoolerIfStopped();
  const InstallState state =
      cannot_tell == ERROR_SUCCESS ? ProbeInstallState(&cannot_tell) : InstallState::kUnknown;
  if (state == InstallState::kUnknown) {
    if (failure != nullptr) *failure = cannot_tell;
    return options.silent ? RunMode::kInstallStateUnknown : RunMode::kInstallDialog;
  }
  // A silent run never opens the uninstall dialog: the wanted state holds.
  // A person whose printer has no queue (plugged into another socket) gets
  // the installer, which gives it one.
  if (state == InstallState::kInstalled) {
    if (!options.silent) return SupportedPrinterWithoutQueue() ? RunMode::kInstallDialog : RunMode::kStartUninstaller;
    // A newer package is brought in place; an older one changes nothing.
    if (CompareInstalledVersion() == InstalledVersion::kOlder) return RunMode::kUpgrade;
    return SupportedPrinterWithoutQueue() ? RunMode::kSilentInstall : RunMode::kAlreadyInstalled;
  }
  return options.silent ? RunMode::kSilentInstall : RunMode::kInstallDialog;
}

int RunProgram(HINSTANCE instance, const wchar_t* command_line) {
  MissingOptionalCount = 0;
  const OsBinding binding = BindOs(NoteMissingOptional);
  ModuleInstance = instance;
  SingleInstanceLock lock = TakeSingleInstanceLock();
  CommandLineOptions options = ParseCommandLine(command_line);
  const bool unseen = !options.silent && !InteractiveWindowStation();
  if (unseen) options.silent = true;
  // Staging, the check and the repair are silent runs of their own.
  if ((options.stage || options.check || options.repair) && !options.uninstall) options.silent = true;
  SilentRun = options.silent;
  if (SilentRun) SearchTimeoutMs = options.timeout_seconds * 1000;
  SetLogRole(options.finish ? L"last copy" : options.uninstall ? L"uninstaller copy" : L"program");
  const bool mistyped = !options.mistyped.empty();
  // Every way out before the road is taken: a temporary copy of the
  // uninstaller removes itself as the others do.
  auto leave = [&](int code) {
    if (options.uninstall) ScheduleDeletionOfRelaunchedCopy();
    CloseLog(code);
    return code;
  };
  // Nothing is changed when the log that was asked for cannot be written (a
  // silent run whose "/log=" names no file is mistyped, below).
  if (options.log && (options.log_refused || !OpenLog(options.log_path.c_str(), command_line, SilentRun)) &&
      !(SilentRun && mistyped)) {
    return leave(kExitLogFailure);
  }
  if (unseen) trace("No one can see this run's windows: it runs silently.");
  if (binding.error != ERROR_SUCCESS) return leave(ReportBindingFailure(binding));
  // A deployment tool learns at once that its command line is wrong; a
  // person's dialog goes on as it would without the option.
  if (mistyped && SilentRun) {
    trace("Mistyped option: %ws; nothing is done.", options.mistyped);
    return leave(kExitInvalidCommandLine);
  }
  if (mistyped) trace("Ignored option: %ws", options.mistyped);
  // A deployment tool is told to try again later; a person sees the copy that runs.
  if (lock.second_instance) {
    // No output of its own but the log that was asked for.
    LogLine(lock.held_on_machine ? L"Another instance runs in another session of this machine."
                                 : L"Another instance runs in this session.");
    return leave(SilentRun ? kExitAlreadyRunning : 0);
  }
  TraceMissingOptional();
  if (lock.machine_lock_failure != nullptr) {
    trace("No lock on the whole machine: %ws failed, error %u; the run relies on its session's lock.",
          lock.machine_lock_failure, lock.machine_lock_error);
  }
  WarnOfAFolderOthersMayChange();

  int exit_code = 0;
  DWORD cannot_tell = ERROR_SUCCESS;
  switch (SelectRunMode(options, &cannot_tell)) {
    case RunMode::kUninstallDialog:
      ScheduleDeletionOfRelaunchedCopy();
      OpenDialog(IDD_UNINSTALL, UninstallDialogProc);
      break;
    case RunMode::kSilentUninstall: {
      ScheduleDeletionOfRelaunchedCopy();
      const SilentUninstallResult result = SilentUninstall(options.after == 0);
      if (result.folder_due && options.after != 0) StartFinishingCopy(lock, options.after, result.exit_code);
      exit_code = result.exit_code;
      break;
    }
    case RunMode::kFinishUninstall:
      FinishUninstallAfter(options.after);
      // The log's last line is what the uninstall's caller got.
      exit_code = static_cast<int>(options.result);
      break;
    case RunMode::kRelaunchAsUninstaller:
      exit_code = RelaunchAsUninstaller(lock);
      break;
    case RunMode::kStartUninstaller:
      // As unins000.exe does: a copy of this very program runs the uninstall,
      // never a file of that name that someone may have left in the folder.
      RelaunchAsUninstaller(lock);
      break;
    case RunMode::kUpgrade:
      exit_code = UpgradeInPlace();
      break;
    case RunMode::kInstallStateUnknown:
      trace("What is installed cannot be told; nothing is done, error:%u.", cannot_tell);
      exit_code = static_cast<int>(cannot_tell);
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
    case RunMode::kCheck:
      exit_code = CheckInstallation();
      break;
    case RunMode::kRepair:
      exit_code = RepairInstallation();
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
