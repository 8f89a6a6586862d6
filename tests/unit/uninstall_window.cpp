#include "tests/unit/uninstall_window.h"

#include <gtest/gtest.h>

#include "common/package.h"
#include "common/string_table.h"
#include "resources/resource_ids.h"
#include "tests/built_program.h"

namespace {

std::vector<PostedMessage>* recording = nullptr;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  const bool interesting = message == WM_USER + 1 || message == WM_COMMAND || message == PBM_SETPOS;
  if (interesting && recording != nullptr) {
    recording->push_back({GetDlgCtrlID(window), message, wparam});
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void RegisterClasses() {
  static bool done = false;
  if (done) return;
  done = true;
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  WNDCLASSW cls = {};
  cls.lpfnWndProc = RecordingProc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"UninstallTestWindow";
  RegisterClassW(&cls);
}

std::vector<PostedMessage> messages;

void AddTreeLines(HWND tree, HTREEITEM item, int depth, std::vector<std::wstring>& lines) {
  for (; item != nullptr; item = TreeView_GetNextSibling(tree, item)) {
    wchar_t text[1024] = {};
    TVITEMW data = {};
    data.mask = TVIF_TEXT | TVIF_STATE | TVIF_PARAM;
    data.hItem = item;
    data.pszText = text;
    data.cchTextMax = 1024;
    data.stateMask = TVIS_EXPANDED;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
    const bool expanded = (data.state & TVIS_EXPANDED) != 0;
    lines.push_back(std::wstring(depth * 2, L' ') + (expanded ? L"+" : L"") + text);
    AddTreeLines(tree, TreeView_GetChild(tree, item), depth + 1, lines);
  }
}

}  // namespace

HINSTANCE ProgramResources() {
  static HINSTANCE program = LoadBuiltProgram();
  return program;
}

UninstallWindow::UninstallWindow() {
  RegisterClasses();
  messages.clear();
  recording = &messages;
  module_instance_.emplace(ProgramResources());
  HINSTANCE self = GetModuleHandleW(nullptr);
  window_ = CreateWindowExW(0, L"UninstallTestWindow", L"test", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                            nullptr, self, nullptr);
  auto child = [&](const wchar_t* cls, int id, DWORD style) {
    CreateWindowExW(0, cls, L"", WS_CHILD | style, 0, 0, 100, 20, window_,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), self, nullptr);
  };
  child(L"BUTTON", IDC_REMOVE, WS_VISIBLE);
  child(L"BUTTON", IDCANCEL, WS_VISIBLE);
  child(WC_TREEVIEWW, IDC_TREE, WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES);
  child(L"UninstallTestWindow", IDC_PROGRESS, 0);  // records PBM_SETPOS
}

UninstallWindow::~UninstallWindow() {
  DestroyWindow(window_);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
  recording = nullptr;
  module_instance_.reset();
}

const std::vector<PostedMessage>& UninstallWindow::Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  return messages;
}

std::vector<int> UninstallWindow::Positions() {
  std::vector<int> positions;
  for (const PostedMessage& m : Pump()) {
    if (m.control == IDC_PROGRESS && m.message == PBM_SETPOS) positions.push_back(static_cast<int>(m.wparam));
  }
  return positions;
}

int UninstallWindow::Count(UINT message, WPARAM wparam) {
  int n = 0;
  for (const PostedMessage& m : Pump()) n += m.control == 0 && m.message == message && m.wparam == wparam;
  return n;
}

std::vector<std::wstring> UninstallWindow::TreeLines() {
  std::vector<std::wstring> lines;
  HWND tree = control(IDC_TREE);
  AddTreeLines(tree, TreeView_GetRoot(tree), 0, lines);
  return lines;
}
