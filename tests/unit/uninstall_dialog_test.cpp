#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <thread>

#include "common/package.h"
#include "common/string_table.h"
#include "resources/resource_ids.h"
#include "tests/unit/inventory_fixture.h"
#include "tests/unit/uninstall_window.h"
#include "uninstall/uninstall_dialog.h"
#include "uninstall/uninstall_workers.h"

namespace {

HWND FindDialogOf(DWORD thread) {
  HWND found = nullptr;
  EnumThreadWindows(
      thread,
      [](HWND window, LPARAM out) {
        wchar_t cls[16] = {};
        GetClassNameW(window, cls, 16);
        if (wcscmp(cls, L"#32770") != 0) return TRUE;
        *reinterpret_cast<HWND*>(out) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

template <typename Condition>
bool WaitFor(Condition condition) {
  for (int i = 0; i < 2000; ++i) {
    if (condition()) return true;
    Sleep(10);
  }
  return false;
}

using UninstallDialog = InventoryTest;

// The real dialog: it takes the inventory on a worker of its own, shows it,
// and refuses Close while a worker runs.
TEST_F(UninstallDialog, ShowsTheInventoryAndRefusesCloseWhileAWorkerRuns) {
  ScopedModuleInstance program(ProgramResources());
  ScopedInstallDirectory folder(L"C:\\Tapstart\\");
  AddDriver(L"Vellumor VL-K20");
  AddQueue(L"Vellumor VL-K20", L"Vellumor VL-K20");
  INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&classes);

  const DWORD self = GetCurrentThreadId();
  std::atomic<bool> refused{false};
  std::atomic<int> items{0};
  std::thread user([&] {
    HWND dialog = nullptr;
    if (!WaitFor([&] { return (dialog = FindDialogOf(self)) != nullptr; })) return;
    // The dialog window exists a moment before its controls do.
    HWND tree = nullptr;
    WaitFor([&] {
      tree = GetDlgItem(dialog, IDC_TREE);
      return tree != nullptr && SendMessageW(tree, TVM_GETCOUNT, 0, 0) > 0 && !WorkerRunning();
    });
    items = static_cast<int>(SendMessageW(tree, TVM_GETCOUNT, 0, 0));
    BeginWorkerRun();  // as if "Remove" had just been pressed
    SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    refused = IsWindow(dialog) && IsWindowVisible(dialog);
    EndWorkerRun();
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  const INT_PTR result = DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(IDD_UNINSTALL), nullptr,
                                         UninstallDialogProc, 0);
  user.join();

  EXPECT_EQ(result, IDCANCEL);
  EXPECT_TRUE(refused);
  EXPECT_EQ(items, 4) << "folder line, package-less node, driver, queue";
  EXPECT_EQ(machine.CallCount(Seam::EnumPrintersW), 2) << "all three scans ran";
}

}  // namespace
