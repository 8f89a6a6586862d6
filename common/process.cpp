#include "common/process.h"

namespace {

// Threads are started outside the seam (window code runs for real under
// test), so their handles are closed outside it too.
struct ThreadHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::CloseHandle(h); }
};

}  // namespace

bool StartThread(LPTHREAD_START_ROUTINE worker, void* parameter) {
  ScopedHandle<ThreadHandleTraits> thread(CreateThread(nullptr, 0, worker, parameter, 0, nullptr));
  return static_cast<bool>(thread);
}

bool StartProcess(wchar_t* command_line, StartedProcess& started, const wchar_t* current_directory) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!os.CreateProcessW(nullptr, command_line, nullptr, nullptr, FALSE, 0, nullptr, current_directory, &startup,
                         &info)) {
    return false;
  }
  started.process.reset(info.hProcess);
  started.thread.reset(info.hThread);
  started.id = info.dwProcessId;
  return true;
}
