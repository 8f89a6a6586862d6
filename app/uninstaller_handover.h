// Handing the uninstall over to copies of the program outside its folder: the
// temporary copy that runs the uninstall (waited for in a silent run), the
// last copy that deletes the folder once the first process has ended, and the
// copies' own clean-up.
#pragma once

#include "common/text.h"
#include "platform/win.h"

struct SingleInstanceLock;

constexpr size_t kChildCommandLineCapacity = 1024;

// The program's own path; false (and the path empty) when Windows could not
// give it whole.
bool ReadModulePath(WideText<kPathCapacity>& path);

// `"<temporary copy>" -u "<folder>` - no closing quote, so that the folder's
// trailing backslash does not escape it. A silent uninstall passes
// "/silence /after=<its id>" before "-u", since what follows "-u" is the folder.
void FormatRelaunchCommandLine(WideText<kChildCommandLineCapacity>& line,
                               const wchar_t* temporary_copy, const wchar_t* directory,
                               DWORD silent_parent = 0);

// Whether the program runs as the copy that RelaunchAsUninstaller makes:
// unins000.exe in a folder "Tapstart-<8 hex digits>" of the temporary folder.
bool IsRelaunchedCopy(const wchar_t* module_path, const wchar_t* temp_directory);

// A copy leaves nothing behind: it asks Windows to delete it and its folder
// at the next system start, whichever way its run ends. Any other program
// file is left alone.
void ScheduleDeletionOfRelaunchedCopy();

// Copies the program's own module into a new folder of the temporary folder
// that only SYSTEM and Administrators can change, and starts that copy there
// with "-u". Folders and copies that earlier, ended uninstalls left go first.
// A silent run waits for the copy and gives its exit code; a copy that could
// not be made or started gives its error (a dialog run only traces it).
int RelaunchAsUninstaller(SingleInstanceLock& lock);

// Starts the last copy, which deletes InstallDirectory once `first_process`
// has ended and logs `caller_result` (what that process returned) last.
void StartFinishingCopy(SingleInstanceLock& lock, DWORD first_process, int caller_result);

// The last copy's own work: waits for the first process, deletes the folder.
int FinishUninstallAfter(DWORD first_process);

// Copies of the uninstaller that earlier uninstalls left in the temporary
// folder, as an uninstall deletes them; with `delete_them`, deleted here.
// How many there were.
int LeftoverUninstallerCopies(bool delete_them);
