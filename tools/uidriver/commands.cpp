// Commands that read a dialog's controls, wait for them and press buttons.

#include "uidriver.h"

#include <commctrl.h>

namespace {

// The dialog and the control named by the first argument, or null.
HWND ControlOfInvocation(const Invocation& call, HWND* dialog_out = nullptr) {
  long id = 0;
  if (call.words.empty() || !ParseNumber(call.words[0], &id)) {
    Print(L"a control ID is needed");
    return nullptr;
  }
  HWND dialog = WaitForDialog(WithControl(call.selector, static_cast<int>(id)));
  if (dialog == nullptr) return nullptr;
  if (dialog_out != nullptr) *dialog_out = dialog;
  return FindControl(dialog, static_cast<int>(id));
}

std::wstring DescribeDialog(HWND dialog) {
  return L"dialog " + Hex(reinterpret_cast<ULONG_PTR>(dialog)) + L" pid " +
         std::to_wstring(ProcessOf(dialog)) + L" visible=" + (IsShown(dialog) ? L"1" : L"0") +
         L" caption=" + Quoted(WindowText(dialog));
}

int Find(const Invocation& call) {
  if (WaitForDialog(call.selector) == nullptr) return 1;
  for (HWND dialog : MatchingDialogs(call.selector)) Print(DescribeDialog(dialog));
  return 0;
}

int State(const Invocation& call) {
  HWND dialog = WaitForDialog(call.selector);
  if (dialog == nullptr) return 1;
  Print(DescribeDialog(dialog));
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    Print(DescribeControl(child));
  }
  return 0;
}

int Text(const Invocation& call) {
  HWND control = ControlOfInvocation(call);
  if (control == nullptr) return 1;
  Print(Quoted(WindowText(control)));
  return 0;
}

int Visible(const Invocation& call) {
  HWND control = ControlOfInvocation(call);
  if (control == nullptr) return 1;
  const bool shown = IsShown(control);
  Print(shown ? L"1" : L"0");
  return shown ? 0 : 1;
}

int Position(const Invocation& call) {
  HWND control = ControlOfInvocation(call);
  if (control == nullptr) return 1;
  DWORD_PTR position = 0;
  if (!Ask(control, PBM_GETPOS, 0, 0, &position)) {
    Print(L"no answer");
    return 1;
  }
  Print(std::to_wstring(position));
  return 0;
}

// Presses a button as a user would: only a shown, enabled one. The click is
// posted, so that a message box it opens does not hold the driver.
int Click(const Invocation& call) {
  HWND control = ControlOfInvocation(call);
  if (control == nullptr) return 1;
  if (!IsShown(control) || !IsWindowEnabled(control)) {
    Print(L"not pressable: " + DescribeControl(control));
    return 1;
  }
  PostMessageW(control, BM_CLICK, 0, 0);
  Print(L"clicked " + call.words[0]);
  return 0;
}

int Close(const Invocation& call) {
  HWND dialog = WaitForDialog(call.selector);
  if (dialog == nullptr) return 1;
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  Print(L"closed " + Hex(reinterpret_cast<ULONG_PTR>(dialog)));
  return 0;
}

// Waits for a control to meet a condition; prints the control as last seen.
template <typename Condition>
int WaitForControl(const Invocation& call, size_t needed_words, Condition condition) {
  if (call.words.size() < needed_words) {
    Print(L"missing argument");
    return 2;
  }
  HWND control = ControlOfInvocation(call);
  if (control == nullptr) return 1;
  const bool met = WaitUntil(call.selector.timeout_ms, [&] { return condition(control); });
  Print((met ? L"" : L"timed out: ") + DescribeControl(control));
  return met ? 0 : 1;
}

int WaitText(const Invocation& call) {
  return WaitForControl(call, 2, [&](HWND control) {
    return WindowText(control).find(call.words[1]) != std::wstring::npos;
  });
}

int WaitPosition(const Invocation& call) {
  long wanted = 0;
  if (call.words.size() >= 2 && !ParseNumber(call.words[1], &wanted)) return 2;
  return WaitForControl(call, 2, [&](HWND control) {
    DWORD_PTR position = 0;
    return Ask(control, PBM_GETPOS, 0, 0, &position) && static_cast<long>(position) == wanted;
  });
}

int WaitVisible(const Invocation& call) {
  const bool wanted = call.words.size() < 2 || call.words[1] != L"0";
  return WaitForControl(call, 1, [&](HWND control) { return IsShown(control) == wanted; });
}

int WaitGone(const Invocation& call) {
  const bool gone = WaitUntil(call.selector.timeout_ms,
                              [&] { return MatchingDialogs(call.selector).empty(); });
  Print(gone ? L"gone" : L"still there");
  return gone ? 0 : 1;
}

const CommandRegistration kFind(L"find", "  every matching dialog: dialog HWND pid PID visible=V caption=\"...\"", Find);
const CommandRegistration kState(L"state", " the dialog, then one line per control", State);
const CommandRegistration kText(L"text", "ID  the control's text", Text);
const CommandRegistration kVisible(L"visible", "ID  1 (exit 0) when shown, else 0 (exit 1)", Visible);
const CommandRegistration kPosition(L"pos", "ID  a progress bar's position", Position);
const CommandRegistration kClick(L"click", "ID  press a shown, enabled button", Click);
const CommandRegistration kClose(L"close", " ask the dialog to close (WM_CLOSE)", Close);
const CommandRegistration kWaitText(L"wait-text", "ID TEXT  until the control's text contains TEXT", WaitText);
const CommandRegistration kWaitPosition(L"wait-pos", "ID N  until the progress bar stands at N", WaitPosition);
const CommandRegistration kWaitVisible(L"wait-visible", "ID [1|0]  until the control is shown (1) or hidden (0)", WaitVisible);
const CommandRegistration kWaitGone(L"wait-gone", " until no matching dialog is left", WaitGone);

}  // namespace
