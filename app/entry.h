// Program entry: one instance per logon session and on the machine, the
// folder the tool runs from, and the choice of what to do.
#pragma once

#include "common/scoped_handle.h"
#include "common/text.h"
#include "app/command_line.h"
#include "app/uninstaller_handover.h"

enum class RunMode {
  kSecondInstance,         // another copy runs: leave at once
  kUninstallDialog,        // "-u <folder>": the uninstall dialog for that folder
  kSilentUninstall,        // "-u <folder>" silently: remove without a window
  kFinishUninstall,        // the silent uninstall's last step: the folder, once the first process ended
  kRefusedDirectory,       // "-u" with an empty folder or one too long to keep
  kRelaunchAsUninstaller,  // named unins000: hand over to a temporary copy
  kStartUninstaller,       // the driver is installed: hand over to a copy of this program, as unins000 does
  kUpgrade,                // silently, and an older version is installed: upgrade it in place
  kInstallStateUnknown,    // silently, and the spooler could not tell what is installed
  kAlreadyInstalled,       // silently, and the driver is installed: nothing to do
  kSilentInstall,          // "/silence": install without a window
  kStage,                  // "/stage": the package into the driver store, nothing else
  kCheck,                  // "/check": what is installed, said line by line; nothing changed
  kRepair,                 // "/repair": what the check finds missing or changed, put back
  kHelp,                   // "/?": the options and exit codes in a message box
  kInstallDialog,          // the installer dialog
};

constexpr wchar_t kSingleInstanceMutexName[] = L"TAPSTARTINSTALLERFORPRINTERDRIVER";
// The machine-wide lock: a mutex in a private namespace whose boundary is the
// Administrators group. A process outside the group can neither make the
// namespace nor, by its DACL, open it, so it cannot take the lock first.
constexpr wchar_t kLockNamespace[] = L"Tapstart";
constexpr wchar_t kMachineMutexName[] = L"Tapstart\\Machine";

// The single-instance lock, on the machine and in the logon session; it ends
// when its handles are closed.
struct SingleInstanceLock {
  ScopedMutex mutex;
  ScopedNamespace machine_namespace;
  ScopedMutex machine_mutex;
  bool second_instance = false;
  bool held_on_machine = false;  // the machine-wide lock was the one held: a run in another session
  // Why there is no machine-wide lock (the call that failed, and its error);
  // null when there is one.
  const wchar_t* machine_lock_failure = nullptr;
  DWORD machine_lock_error = ERROR_SUCCESS;
  void Close() {
    machine_mutex.reset();
    machine_namespace.reset();
    mutex.reset();
  }
};

// Takes both locks; `second_instance` when another process holds either.
// Where the machine-wide lock cannot be made, the session's alone.
SingleInstanceLock TakeSingleInstanceLock();

// Works out InstallDirectory and the road to take. Probes the install state
// only when neither "-u" nor the name unins000 decides it first, with a
// stopped spooler started first; where it cannot be told, `failure` receives
// why (a dialog run opens the installer then).
RunMode SelectRunMode(const CommandLineOptions& options, DWORD* failure = nullptr);

// Whether this process runs where someone can see its windows (an
// interactive window station); a service or a task in session 0 does not.
bool InteractiveWindowStation();

// The whole entry, given the whole command line (GetCommandLineW); returns
// the process exit code.
int RunProgram(HINSTANCE instance, const wchar_t* command_line);
