// The run's log file, for support staff and fleets: every trace line, with a
// local time stamp to the millisecond, in a UTF-8 text file that repeated
// runs append to. Without "/log" nothing is written anywhere.
#pragma once

#include "common/version.h"

#include "common/text.h"
#include "common/trace.h"
#include "platform/win.h"

// Opens the log at `path` for appending, or creates it; a file that is
// there is written only when it is a plain file with one name at that very
// path (no link, no second hard link, no junction on the way). With no path,
// a new "Tapstart <date time>.log" in the temporary folder, never one that
// was there before. Writes the opening lines: the program's version, the
// command line, the Windows version and build, the native architecture, the
// account and whether the run is silent. False when the file cannot be
// opened: the run must then end before it changes anything.
bool OpenLog(const wchar_t* path, const wchar_t* command_line, bool silent);

// Appends one trace line (from any thread); nothing without an open log.
void LogLine(const wchar_t* line);

// Writes the closing line with the exit code and closes the log.
void CloseLog(int exit_code);

// The open log's whole path (empty without one), for the copies the run starts.
const wchar_t* LogPath();

// A log line: a trace line, its time stamp, process id and role.
constexpr size_t kTraceLogLineCapacity = kTraceLineCapacity + 96;

// Who writes this process's lines, for a log that three processes of one
// uninstall share: "program", "uninstaller copy" or "last copy".
void SetLogRole(const wchar_t* role);

// "Exit code: <n>", unsigned as the process returns it, with an HRESULT in hex too.
void FormatExitCode(WideText<64>& line, int exit_code);

// The program's own version, as the log names it.
constexpr wchar_t kProgramVersion[] = L"" PROGRAM_VERSION_TEXT;
