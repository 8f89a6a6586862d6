// Starting another program: the relaunched uninstaller copy, the uninstaller
// beside the tool, the add-printer wizard.
#pragma once

#include "common/scoped_handle.h"

// A started program's handles, closed when this goes.
struct StartedProcess {
  ScopedKernelHandle process;
  ScopedKernelHandle thread;
  DWORD id = 0;
};

// Starts a program from its command line (which Windows may write into; it
// names the program by its full path), with no handles inherited, the tool's
// own environment, and `current_directory` as its folder (null: the tool's
// own). False when it could not be started; GetLastError tells why.
bool StartProcess(wchar_t* command_line, StartedProcess& started, const wchar_t* current_directory = nullptr);

// Starts a worker thread of the tool's own and lets it run: its handle is
// closed at once, the worker is never waited for. False when it could not be
// started; GetLastError tells why.
bool StartThread(LPTHREAD_START_ROUTINE worker, void* parameter);
