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

// "ID=V": the control of that ID is to be shown (1) or hidden (0).
struct Visibility {
  HWND control;
  bool shown;
};

// Reads the "ID=V" words after the text; false on a malformed word or an
// unknown control.
bool ParseVisibilities(HWND dialog, const Invocation& call, std::vector<Visibility>* wanted) {
  for (size_t i = 2; i < call.words.size(); ++i) {
    const std::wstring& word = call.words[i];
    const size_t equals = word.find(L'=');
    long id = 0;
    if (equals == std::wstring::npos || word.size() != equals + 2 ||
        (word[equals + 1] != L'0' && word[equals + 1] != L'1') ||
        !ParseNumber(word.substr(0, equals), &id)) {
      Print(L"bad visibility: " + word);
      return false;
    }
    HWND control = FindControl(dialog, static_cast<int>(id));
    if (control == nullptr) return false;
    wanted->push_back({control, word[equals + 1] == L'1'});
  }
  return true;
}

// The moment has come: the text is there and every control as wanted.
bool Reached(HWND control, const std::wstring& text, const std::vector<Visibility>& visibilities) {
  if (!Contains(control, text)) return false;
  for (const Visibility& visibility : visibilities) {
    if (IsShown(visibility.control) != visibility.shown) return false;
  }
  return true;
}

// Watches the control as closely as it can and holds the program as soon as
// the control's text contains TEXT and each control named by an "ID=V" word
// is shown (1) or hidden (0); the threads stay suspended until "release".
// Fails when the moment passed before the program could be held; start it
// before the program to watch from the program's first moment.
int Hold(const Invocation& call) {
  long id = 0;
  if (call.words.size() < 2 || !ParseNumber(call.words[0], &id)) {
    Print(L"usage: hold ID TEXT [ID=V ...]");
    return 2;
  }
  // Started before the program, it looks for the dialog as often as it can,
  // and takes it once its controls are there.
  HWND dialog = WaitForDialog(WithControl(call.selector, static_cast<int>(id)), 1);
  if (dialog == nullptr) return 1;
  HWND control = FindControl(dialog, static_cast<int>(id));
  if (control == nullptr) return 1;
  std::vector<Visibility> visibilities;
  if (!ParseVisibilities(dialog, call, &visibilities)) return 2;
  const std::wstring& wanted = call.words[1];
  const ULONGLONG end = GetTickCount64() + call.selector.timeout_ms;
  while (GetTickCount64() < end) {
    if (!Reached(control, wanted, visibilities)) continue;
    const int held = ForOtherThreads(dialog, true);
    if (Reached(control, wanted, visibilities)) {
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
    L"hold", "ID TEXT [ID=V ...]  hold the program still once the control's text contains TEXT\n"
    "                and each named control is shown (1) or hidden (0)", Hold);
const CommandRegistration kRelease(L"release", " let a held program go on", Release);

}  // namespace
