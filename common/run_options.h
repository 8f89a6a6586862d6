// How this run was asked to behave, and what it leaves for the deployment
// tool that started it: the exit codes with Windows Installer's meanings.
#pragma once

#include "platform/win.h"

// No window, no message box and no question of the shell: set by the entry
// for "/silence" (and its aliases), and where nobody can see a window.
extern bool SilentRun;

// How long a silent install searches for a printer; 0: until one appears.
extern DWORD SearchTimeoutMs;

// Set once a file waits for the next system start (a replacement or a
// deletion registered for then), or Plug and Play asked for a restart.
extern bool RestartNeeded;

// Set when a spooler that this run stopped could not be started again: the
// error of the start (1603 when none). The run has then failed.
extern DWORD SpoolerLeftStopped;

// Set once a refused look for new devices is traced: the search asks every
// second, and says so once.
extern bool RescanRefusalTraced;

constexpr int kExitRestartNeeded = ERROR_SUCCESS_REBOOT_REQUIRED;     // 3010
constexpr int kExitAlreadyRunning = ERROR_INSTALL_ALREADY_RUNNING;    // 1618
constexpr DWORD kInstallFailedExitCode = ERROR_INSTALL_FAILURE;       // 1603
constexpr DWORD kExitDriverBlocked = ERROR_PRINTER_DRIVER_BLOCKED;    // 3014
constexpr DWORD kExitLogFailure = ERROR_INSTALL_LOG_FAILURE;          // 1622
constexpr int kExitInvalidCommandLine = ERROR_INVALID_COMMAND_LINE;  // 1639

// The exit code of a silent run that did what it was asked: 0, or 3010 when
// something waits for the next start.
inline int SuccessExitCode() { return RestartNeeded ? kExitRestartNeeded : 0; }
