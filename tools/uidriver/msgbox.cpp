// Message boxes: reading and answering them. A message box is a dialog whose
// text is the static control 65535; unless --with is given, that is what the
// selector looks for, so the program's own dialog is never taken for one.
#include "uidriver.h"

namespace {

constexpr int kMessageTextId = 0xFFFF;

Selector MessageBoxSelector(const Invocation& call) {
  Selector selector = call.selector;
  if (!selector.has_with_control) {
    selector.with_control = kMessageTextId;
    selector.has_with_control = true;
  }
  return selector;
}

int MessageText(const Invocation& call) {
  HWND box = WaitForDialog(MessageBoxSelector(call));
  if (box == nullptr) return 1;
  Print(L"caption=" + Quoted(WindowText(box)) + L" text=" + Quoted(WindowText(GetDlgItem(box, kMessageTextId))));
  return 0;
}

// Presses the message box's button ID (1 OK, 2 Cancel, 6 Yes, 7 No, ...).
int Answer(const Invocation& call) {
  long id = 0;
  if (call.words.empty() || !ParseNumber(call.words[0], &id)) {
    Print(L"a button ID is needed");
    return 2;
  }
  HWND box = WaitForDialog(MessageBoxSelector(call));
  if (box == nullptr) return 1;
  HWND button = FindControl(box, static_cast<int>(id));
  if (button == nullptr) return 1;
  Print(L"caption=" + Quoted(WindowText(box)) + L" text=" + Quoted(WindowText(GetDlgItem(box, kMessageTextId))));
  PostMessageW(button, BM_CLICK, 0, 0);
  Print(L"answered " + call.words[0]);
  return 0;
}

const CommandRegistration kMessageText(L"msgbox", " a message box's caption and text", MessageText);
const CommandRegistration kAnswer(L"answer", "ID  press button ID of a message box", Answer);

}  // namespace
