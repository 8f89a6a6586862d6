// The UI driver: a small console program that finds another program's dialog,
// reads its controls and presses its buttons, and prints what it saw one fact
// per line, so that shell scripts can check it with grep.
//
//   uidriver.exe COMMAND [ARGUMENTS] [--exe NAME] [--pid ID] [--caption TEXT]
//                [--with ID] [--timeout SECONDS]
//
// The options choose the dialog (a top-level window of class #32770): of the
// process with that image name or Windows process id, with that whole caption,
// having a control with that ID. The first match in Z order (topmost first) is
// used. Commands wait up to the timeout (10 s by default) for the dialog and
// for their condition. Exit code 0: done or true; 1: not found, false or timed
// out; 2: bad command line.
//
// Texts are printed in UTF-8 between double quotes with \\, \", \r, \n and \t
// escaped. Each command lives in its own source file and registers itself with
// a CommandRegistration, so a new command needs no change here.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "../console.h"
#include <vector>

struct Selector {
  DWORD pid = 0;
  std::wstring exe;
  std::wstring caption;
  bool has_caption = false;
  int with_control = 0;
  bool has_with_control = false;
  DWORD timeout_ms = 10000;
};

struct Invocation {
  Selector selector;
  std::vector<std::wstring> words;  // the command's own arguments
};

using CommandFunction = int (*)(const Invocation&);

struct CommandRegistration {
  CommandRegistration(const wchar_t* name, const char* usage, CommandFunction function);
};

// --- finding windows -------------------------------------------------------
// Every dialog that matches now, topmost first.
std::vector<HWND> MatchingDialogs(const Selector& selector);
// The selector narrowed to dialogs that have a control of that ID (a dialog
// being created has none yet).
Selector WithControl(const Selector& selector, int id);
// The first matching dialog, waiting up to the timeout and looking every
// `interval_ms`; prints "no dialog" and returns null when none came.
HWND WaitForDialog(const Selector& selector, DWORD interval_ms = 100);
// The control of that ID in the dialog; prints "no control ID" when absent.
HWND FindControl(HWND dialog, int id);

// --- reading windows -------------------------------------------------------
// The window's text as the window itself answers WM_GETTEXT (works across
// processes, unlike GetWindowTextW for edit controls).
std::wstring WindowText(HWND window);
std::wstring ClassOf(HWND window);
// The window's own WS_VISIBLE style: what ShowWindow last set on it.
bool IsShown(HWND window);
DWORD ProcessOf(HWND window);
// A message sent with a time limit; false when the window did not answer.
bool Ask(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result);
// One line describing a control: control ID CLASS visible=V enabled=E [pos=P] text="..."
std::wstring DescribeControl(HWND control);

// --- output and arguments --------------------------------------------------
std::wstring Quoted(const std::wstring& text);
std::wstring Hex(ULONG_PTR value);
bool ParseNumber(const std::wstring& text, long* value);
// Polls `condition` every `interval_ms` until it holds or the time is up.
template <typename Condition>
bool WaitUntil(DWORD timeout_ms, Condition condition, DWORD interval_ms = 100) {
  const ULONGLONG end = GetTickCount64() + timeout_ms;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(interval_ms);
  }
}
