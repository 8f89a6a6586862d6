// Holding a program still at a moment of interest: every thread of the
// dialog's process but the dialog's own is suspended, so the dialog keeps
// answering and painting while the work behind it waits. Used to look at,
// and take pictures of, states that last only a moment.
#include "uidriver.h"

#include <tlhelp32.h>

namespace {

// Suspends (or resumes) every thread of the dialog's process except the
// dialog's own; returns how many it reached.
int ForOtherThreads(HWND dialog, bool suspend) {
  DWORD pid = 0;
  const DWORD dialog_thread = GetWindowThreadProcessId(dialog, &pid);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int reached = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != pid || entry.th32ThreadID == dialog_thread) continue;
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
    if (thread == nullptr) continue;
    const DWORD count = suspend ? SuspendThread(thread) : ResumeThread(thread);
    if (count != static_cast<DWORD>(-1)) ++reached;
    CloseHandle(thread);
  }
  CloseHandle(snapshot);
  return reached;
}

bool Contains(HWND control, const std::wstring& wanted) {
  return WindowText(control).find(wanted) != std::wstring::npos;
}

// Watches the control as closely as it can and holds the program as soon as
// the control's text contains TEXT; the threads stay suspended until
// "release". Fails when the moment passed before the program could be held;
// start it before the program to watch from the program's first moment.
int Hold(const Invocation& call) {
  long id = 0;
  if (call.words.size() < 2 || !ParseNumber(call.words[0], &id)) {
    Print(L"usage: hold ID TEXT");
    return 2;
  }
  // Started before the program, it looks for the dialog as often as it can,
  // and takes it once its controls are there.
  HWND dialog = WaitForDialog(WithControl(call.selector, static_cast<int>(id)), 1);
  if (dialog == nullptr) return 1;
  HWND control = FindControl(dialog, static_cast<int>(id));
  if (control == nullptr) return 1;
  const std::wstring& wanted = call.words[1];
  const ULONGLONG end = GetTickCount64() + call.selector.timeout_ms;
  while (GetTickCount64() < end) {
    if (!Contains(control, wanted)) continue;
    const int held = ForOtherThreads(dialog, true);
    if (Contains(control, wanted)) {
      Print(L"held " + std::to_wstring(held) + L" threads: " + DescribeControl(control));
      return 0;
    }
    ForOtherThreads(dialog, false);
    Print(L"missed: " + DescribeControl(control));
    return 1;
  }
  Print(L"timed out: " + DescribeControl(control));
  return 1;
}

int Release(const Invocation& call) {
  HWND dialog = WaitForDialog(call.selector);
  if (dialog == nullptr) return 1;
  Print(L"released " + std::to_wstring(ForOtherThreads(dialog, false)) + L" threads");
  return 0;
}

const CommandRegistration kHold(
    L"hold", "ID TEXT  hold the program still once the control's text contains TEXT", Hold);
const CommandRegistration kRelease(L"release", " let a held program go on", Release);

}  // namespace
