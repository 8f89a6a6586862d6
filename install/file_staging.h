// Putting the driver package's files where the spooler and Windows load them
// from: the printer-driver directory and, for the language monitor, the
// system directory.
#pragma once

#include "common/package.h"
#include "platform/win.h"

// The spooler's printer-driver directory for an environment. Without it there
// is no destination: a path built on an empty directory would land in the
// root of the current drive. False (traced, the cause as the thread's last
// error, the directory empty) where the spooler gives none whole.
bool PrinterDriverDirectory(PathText& directory, const wchar_t* environment);

// Copies InstallDirectory\<architecture>\<file> into the printer-driver
// directory, the architecture being the machine's native one (i386, arm,
// amd64, arm64). When the copy fails, a replacement at the next system start
// is registered instead. The language monitor DLL (kMonitorDll) is also put
// into the system directory (StageMonitorIntoSystemDirectory), unless
// `monitor_into_system` is false. Non-zero when the file was copied or its
// replacement registered; 0 otherwise, and always 0 on a machine of another
// architecture.
int StageArchitectureFile(const wchar_t* file_name, bool monitor_into_system = true);

// Copies InstallDirectory\dat\<file> into the printer-driver directory.
int StageDataFile(const wchar_t* file_name);

// Both leave the cause of a failure as the thread's last error. A file the
// package lacks is a failure with ERROR_FILE_NOT_FOUND, and then nothing is
// deleted, copied or moved.
// A replacement left for the next system start sets RestartNeeded, and
// leaves the error of the copy that could not be made now as the thread's
// last error.

// Puts the language monitor DLL at `source_path` into the system directory.
// One that is not there yet is copied at once; one the spooler may hold is
// replaced while the spooler is stopped, or, while a job is printing, at the
// next start (RestartNeeded), so that no job prints again from its start. A
// fresh copy whose name waits to be deleted at the next start is put back
// after that deletion (RestartNeeded). ERROR_SUCCESS, or the error with which
// the spooler refused to stop.
DWORD StageMonitorIntoSystemDirectory(const wchar_t* source_path);

// Copies the file into the system directory under its own name, replacing a
// file of that name. Run while the spooler is stopped.
int CopyToSystemDirectory(const wchar_t* source_path);
