// Program entry: one instance per logon session, the command line, the folder
// the tool runs from, and the choice of what to do.
#pragma once

#include "common/scoped_handle.h"
#include "common/text.h"

enum class RunMode {
  kSecondInstance,         // another copy runs: leave at once
  kUninstallDialog,        // "-u <folder>": the uninstall dialog for that folder
  kSilentUninstall,        // "-u <folder>" silently: remove without a window
  kFinishUninstall,        // the silent uninstall's last step: the folder, once the first process ended
  kRefusedDirectory,       // "-u" with an empty folder or one too long to keep
  kRelaunchAsUninstaller,  // named unins000: hand over to a temporary copy
  kStartUninstaller,       // the driver is installed: start unins000.exe
  kAlreadyInstalled,       // silently, and the driver is installed: nothing to do
  kSilentInstall,          // "/silence": install without a window
  kStage,                  // "/stage": the package into the driver store, nothing else
  kHelp,                   // "/?": the options and exit codes in a message box
  kInstallDialog,          // the installer dialog
};

constexpr wchar_t kSingleInstanceMutexName[] = L"TAPSTARTINSTALLERFORPRINTERDRIVER";
constexpr wchar_t kMachineMutexName[] = L"Global\\TAPSTARTINSTALLERFORPRINTERDRIVER";
constexpr size_t kChildCommandLineCapacity = 1024;

struct CommandLineOptions {
  bool uninstall = false;
  bool silent = false;
  bool finish = false;  // "/finish": delete the folder once process `after` has ended
  DWORD after = 0;      // "/after=<id>": the uninstaller that waits for this run's result
  bool stage = false;   // "/stage"
  bool help = false;    // "/?"
  DWORD timeout_seconds = 0;  // "/timeout=<seconds>"; 0: none
  bool log = false;            // "/log" or "/log=<path>"
  WideText<kPathCapacity> log_path = {};  // empty: a new log in the temporary folder
  bool log_refused = false;    // a log path too long to keep
  bool directory_refused = false;  // a "-u" folder that was empty or did not fit
  WideText<kPathCapacity> directory = {};
};

// The single-instance lock, in the logon session and on the machine; it ends
// when its handles are closed.
struct SingleInstanceLock {
  ScopedMutex mutex;
  ScopedMutex machine_mutex;
  bool second_instance = false;
  void Close() {
    machine_mutex.reset();
    mutex.reset();
  }
};

// Reads "-u <folder>" and "/silence" (in any letter case; also "/silent",
// "/verysilent", "/quiet", "/q" and "/s", as deployment tools pass them)
// from the command line after the program name.
CommandLineOptions ParseCommandLine(const wchar_t* tail);

// Works out InstallDirectory and the road to take. Probes the install state
// only when neither "-u" nor the name unins000 decides it first.
RunMode SelectRunMode(const CommandLineOptions& options);

// `"<temporary copy>" -u "<folder>` - no closing quote, so that the folder's
// trailing backslash does not escape it. A silent uninstall passes
// "/silence /after=<its id>" before "-u", since what follows "-u" is the folder.
void FormatRelaunchCommandLine(WideText<kChildCommandLineCapacity>& line,
                               const wchar_t* temporary_copy, const wchar_t* directory,
                               DWORD silent_parent = 0);

// Whether this process runs where someone can see its windows (an
// interactive window station); a service or a task in session 0 does not.
bool InteractiveWindowStation();

// Whether the program runs as the temporary copy that RelaunchAsUninstaller
// makes: a uni<hex>.tmp file directly in the temporary folder.
bool IsRelaunchedCopy(const wchar_t* module_path, const wchar_t* temp_directory);

// The whole entry; returns the process exit code: 0, except for a silent
// install that failed, which exits with the install's error code.
int RunProgram(HINSTANCE instance, const wchar_t* tail);
