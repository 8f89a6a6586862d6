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
  kStartUninstaller,       // the driver is installed: start unins000.exe
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
// A name of its own: in session 0 (services, and SYSTEM runs of deployment
// tools) a name without prefix is a name of the global namespace, so the
// session lock's name under Global\ would be the session lock itself.
constexpr wchar_t kMachineMutexName[] = L"Global\\TAPSTARTINSTALLERFORPRINTERDRIVER.Machine";

// The single-instance lock, in the logon session and on the machine; it ends
// when its handles are closed.
struct SingleInstanceLock {
  ScopedMutex mutex;
  ScopedMutex machine_mutex;
  bool second_instance = false;
  bool held_on_machine = false;  // the machine-wide lock was the one held: a run in another session
  void Close() {
    machine_mutex.reset();
    mutex.reset();
  }
};

// Takes both locks; `second_instance` when another process holds either.
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
