// A stand-in for the uninstall dialog in unit tests: a real top-level window
// with the controls the workers use (buttons 1 and 2, tree view 1001, progress
// bar 1003), which records the messages posted to it and to the bar. Texts
// come from the built program's string table.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "tests/unit/scoped_state.h"

#include <optional>
#include <string>
#include <vector>

struct PostedMessage {
  int control;  // 0 for the window itself
  UINT message;
  WPARAM wparam;
};

class UninstallWindow {
 public:
  UninstallWindow();
  ~UninstallWindow();
  HWND window() const { return window_; }
  HWND control(int id) const { return GetDlgItem(window_, id); }
  bool Enabled(int id) const { return IsWindowEnabled(control(id)) != FALSE; }
  bool Shown(int id) const { return (GetWindowLongW(control(id), GWL_STYLE) & WS_VISIBLE) != 0; }

  // Delivers what was posted and returns everything recorded so far.
  const std::vector<PostedMessage>& Pump();
  // The progress positions posted to bar 1003, in order.
  std::vector<int> Positions();
  int Count(UINT message, WPARAM wparam);

  // The tree's lines, depth-first, each indented by two blanks per level and
  // marked "+" when the item is expanded.
  std::vector<std::wstring> TreeLines();

 private:
  HWND window_ = nullptr;
  std::optional<ScopedModuleInstance> module_instance_;
};

// The built program's resources, for LoadStringW through ModuleInstance.
HINSTANCE ProgramResources();
