#include "uninstall/uninstall_dialog.h"

#include <commctrl.h>

#include "common/package.h"
#include "resources/resource_ids.h"
#include "uninstall/inventory.h"
#include "uninstall/uninstall_workers.h"

UninstallText UninstallTextBuffer = {};
UninstallText TreeLineBuffer = {};

namespace {

HTREEITEM InsertLine(HWND tree, TVINSERTSTRUCTW& insert, HTREEITEM parent, UninstallText& line) {
  insert.hParent = parent;
  insert.item.pszText = line.data();
  return reinterpret_cast<HTREEITEM>(
      SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

// Loads a text into UninstallTextBuffer and formats it into TreeLineBuffer.
template <typename... A>
UninstallText& TreeLine(UINT id, const A&... args) {
  LoadText(UninstallTextBuffer, id);
  TreeLineBuffer = {};
  BoundedFormat(TreeLineBuffer, UninstallTextBuffer.c_str(), args...);
  return TreeLineBuffer;
}

// The spooler may leave a member out; the line then shows nothing for it.
const wchar_t* OrEmpty(const wchar_t* text) { return text != nullptr ? text : L""; }

UninstallText& DriverLine(const PrinterDriverNode& driver) {
  const DRIVER_INFO_8W* info = driver.driver_info;
  if (info == nullptr) return TreeLine(IDS_TREE_NO_DRIVER);
  const DWORDLONG v = info->dwlDriverVersion;
  return TreeLine(IDS_TREE_DRIVER, OrEmpty(info->pName), OrEmpty(info->pszMfgName), static_cast<uint32_t>((v >> 48) & 0xFFFF),
                  static_cast<uint32_t>((v >> 32) & 0xFFFF), static_cast<uint32_t>((v >> 16) & 0xFFFF),
                  static_cast<uint32_t>(v & 0xFFFF), driver.status);
}

UninstallText& QueueLine(const PrinterQueueNode& queue) {
  const PRINTER_INFO_2W* info = queue.queue_info;
  if (info == nullptr) return TreeLine(IDS_TREE_NO_QUEUE);
  return TreeLine(IDS_TREE_QUEUE, OrEmpty(info->pPrinterName), OrEmpty(info->pPortName), queue.status);
}

}  // namespace

void FillComponentTree(HWND dialog, const DriverPackageNode* first) {
  HWND tree = GetDlgItem(dialog, IDC_TREE);
  SendMessageW(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  TVINSERTSTRUCTW insert = {};
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT;

  // A failed inventory says so where an empty one says that nothing is left.
  if (InventoryReadFailed) {
    LoadText(TreeLineBuffer, IDS_UNINSTALL_FAILED);
    InsertLine(tree, insert, TVI_ROOT, TreeLineBuffer);
  }
  if (first == nullptr) {
    if (InventoryReadFailed) return;
    LoadText(TreeLineBuffer, IDS_NOTHING_TO_REMOVE);
    InsertLine(tree, insert, TVI_ROOT, TreeLineBuffer);
    return;
  }
  LoadText(TreeLineBuffer, IDS_TREE_FOLDER);
  UninstallTextBuffer = {};
  BoundedFormat(UninstallTextBuffer, TreeLineBuffer.c_str(), InstallDirectory);
  InsertLine(tree, insert, TVI_ROOT, UninstallTextBuffer);

  for (const DriverPackageNode* package = first; package != nullptr; package = package->next) {
    UninstallText& package_line =
        package->store_path.empty()
            ? TreeLine(IDS_TREE_DRIVER_LIST)
            : TreeLine(IDS_TREE_PACKAGE, package->inf_name, package->version, package->store_path,
                       package->status);
    HTREEITEM package_item = InsertLine(tree, insert, TVI_ROOT, package_line);
    for (const PrinterDriverNode* driver = package->drivers; driver != nullptr; driver = driver->next) {
      HTREEITEM driver_item = InsertLine(tree, insert, package_item, DriverLine(*driver));
      for (const PrinterQueueNode* queue = driver->queues; queue != nullptr; queue = queue->next) {
        InsertLine(tree, insert, driver_item, QueueLine(*queue));
      }
      SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(driver_item));
    }
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(package_item));
  }
}

INT_PTR CALLBACK UninstallDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      StartWorker(window, InventoryWorker);
      break;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDC_REMOVE) {
        StartWorker(window, RemovalWorker);
      } else if (LOWORD(wparam) == IDCANCEL) {
        // Refused while a worker runs, from the button and the title bar alike.
        if (!WorkerRunning()) EndDialog(window, IDCANCEL);
      }
      break;
    case kInventoryChanged:
      FillComponentTree(window, PackageList);
      break;
    default:
      break;
  }
  return FALSE;
}
