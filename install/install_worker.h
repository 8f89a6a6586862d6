// The install worker and the installer dialog.
#pragma once

#include "app/globals.h"
#include "common/text.h"
#include "platform/win.h"

// The package's INF file: InstallDirectory followed by vlm6v6.inf. The worker
// sets it first thing; the Wizard button and the per-printer install read it.
// Left empty when the path does not fit, so that nothing runs on a cut path.
extern WideText<kPathCapacity> DriverInfPath;

// Windows' own code for a failed installation, reported when the failed step
// left no error code of its own.
constexpr DWORD kInstallFailedExitCode = 1603;  // ERROR_INSTALL_FAILURE

// Searches for supported USB printers and installs each; in the installer
// dialog on a thread of its own (parameter: the dialog), silently on the main
// thread (parameter: null). Returns 0 once every supported printer of a pass
// is installed; after a failed install, the Windows error code that the
// failure message shows, or kInstallFailedExitCode when that code is 0.
DWORD WINAPI InstallWorker(LPVOID window);

// Dialog 106: starts the worker when it opens, ends on Cancel (or Done), and
// hands over to the Windows add-printer wizard on Wizard.
INT_PTR CALLBACK InstallerDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Appends text at the end of an edit control, as one step the user cannot undo.
void AppendLogText(HWND edit, const wchar_t* text);

// Brings the first top-level window of that process to the front; false when
// the process has no window (yet).
bool ForegroundProcessWindow(DWORD process_id);

// The command line that opens the add-printer wizard on an INF file. Its
// buffer holds the longest INF path with room to spare.
constexpr size_t kWizardCommandLineCapacity = kPathCapacity + 64;
bool FormatWizardCommandLine(WideText<kWizardCommandLineCapacity>& line, const wchar_t* inf_path);
