// The command line as people and deployment tools type it: the whole line
// split by Windows' rules, the program's own name skipped, every option an
// ordinary argument, and what was mistyped said.
#pragma once

#include "common/text.h"
#include "platform/win.h"

struct CommandLineOptions {
  bool uninstall = false;
  bool silent = false;
  bool finish = false;  // "/finish": delete the folder once process `after` has ended
  DWORD after = 0;      // "/after=<id>": the uninstaller that waits for this run's result
  DWORD result = 0;     // "/result=<n>": what that uninstaller returned, for the last log line
  bool stage = false;   // "/stage"
  bool check = false;   // "/check"
  bool repair = false;  // "/repair"
  bool help = false;    // "/?"
  DWORD timeout_seconds = 0;  // "/timeout=<seconds>"; 0: none
  bool log = false;            // "/log" or "/log=<path>"
  WideText<kPathCapacity> log_path = {};  // empty: a new log in the temporary folder
  bool log_refused = false;    // a log path too long to keep
  bool directory_refused = false;  // a "-u" folder that was empty or did not fit
  WideText<kPathCapacity> directory = {};
  // The first option that was mistyped, for the trace: "-u" without a folder,
  // an empty or refused folder, a /timeout that is no whole number from 1 to
  // 86400, "/log=" with nothing after it. Empty when none was.
  WideText<64> mistyped = {};
};

// Whether `argument` asks for a silent run: "/silence" in any letter case, and
// "/silent", "/verysilent", "/quiet", "/q" and "/s", as deployment tools pass it.
bool IsSilentOption(const wchar_t* argument);

// Reads the whole command line (as GetCommandLineW gives it; its first word,
// the program, is skipped). A "-u" folder ends at a double quote, which no
// Windows path holds: `-u "C:\Tapstart\" /silence` reads as the folder
// C:\Tapstart\ and /silence, and the relaunch form `-u "<folder>` (no closing
// quote) as the folder.
CommandLineOptions ParseCommandLine(const wchar_t* command_line);
