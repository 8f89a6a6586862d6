// Finding the dialog and reading its controls.

#include <cwchar>

#include "uidriver.h"

#include <commctrl.h>
#include <tlhelp32.h>

namespace {

constexpr UINT kAnswerTimeoutMs = 2000;

bool ProcessHasImageName(DWORD pid, const std::wstring& exe) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  bool match = false;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !match;
       more = Process32NextW(snapshot, &entry)) {
    match = entry.th32ProcessID == pid && _wcsicmp(entry.szExeFile, exe.c_str()) == 0;
  }
  CloseHandle(snapshot);
  return match;
}

struct Search {
  const Selector* selector;
  std::vector<HWND> found;
};

BOOL CALLBACK ConsiderWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  const Selector& s = *search->selector;
  if (ClassOf(window) != L"#32770") return TRUE;
  const DWORD pid = ProcessOf(window);
  if (s.pid != 0 && pid != s.pid) return TRUE;
  if (!s.exe.empty() && !ProcessHasImageName(pid, s.exe)) return TRUE;
  if (s.has_caption && WindowText(window) != s.caption) return TRUE;
  if (s.has_with_control && GetDlgItem(window, s.with_control) == nullptr) return TRUE;
  search->found.push_back(window);
  return TRUE;
}

}  // namespace

std::vector<HWND> MatchingDialogs(const Selector& selector) {
  Search search{&selector, {}};
  EnumWindows(ConsiderWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

Selector WithControl(const Selector& selector, int id) {
  Selector narrowed = selector;
  narrowed.with_control = id;
  narrowed.has_with_control = true;
  return narrowed;
}

HWND WaitForDialog(const Selector& selector, DWORD interval_ms) {
  HWND dialog = nullptr;
  WaitUntil(
      selector.timeout_ms,
      [&] {
        const std::vector<HWND> found = MatchingDialogs(selector);
        if (!found.empty()) dialog = found.front();
        return dialog != nullptr;
      },
      interval_ms);
  if (dialog == nullptr) Print(L"no dialog");
  return dialog;
}

HWND FindControl(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) Print(L"no control " + std::to_wstring(id));
  return control;
}

bool Ask(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result) {
  return SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kAnswerTimeoutMs,
                             result) != 0;
}

std::wstring WindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!Ask(window, WM_GETTEXTLENGTH, 0, 0, &length)) return L"";
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!Ask(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), &copied)) {
    return L"";
  }
  text.resize(copied < length ? copied : length);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

bool IsShown(HWND window) { return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0; }

DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

std::wstring DescribeControl(HWND control) {
  const std::wstring kind = ClassOf(control);
  std::wstring line = L"control " + std::to_wstring(GetDlgCtrlID(control)) + L" " + kind +
                      L" visible=" + (IsShown(control) ? L"1" : L"0") +
                      L" enabled=" + (IsWindowEnabled(control) ? L"1" : L"0");
  if (_wcsicmp(kind.c_str(), PROGRESS_CLASSW) == 0) {
    DWORD_PTR position = 0;
    if (Ask(control, PBM_GETPOS, 0, 0, &position)) line += L" pos=" + std::to_wstring(position);
  }
  return line + L" text=" + Quoted(WindowText(control));
}
