// Reading a tree view of another process: its items, depth-first, one per
// line. The item record and its text live in memory of the tree's process,
// since TVM_GETITEMW is not carried across processes.
#include "uidriver.h"

#include <commctrl.h>

namespace {

constexpr int kTextCapacity = 1024;

// Room in the tree's process for one TVITEMW and its text.
class RemoteItem {
 public:
  explicit RemoteItem(HWND tree) {
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, ProcessOf(tree));
    if (process_ != nullptr) {
      memory_ = static_cast<BYTE*>(VirtualAllocEx(process_, nullptr, sizeof(TVITEMW) + kTextCapacity * sizeof(wchar_t),
                                                  MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
  }
  ~RemoteItem() {
    if (memory_ != nullptr) VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
    if (process_ != nullptr) CloseHandle(process_);
  }
  RemoteItem(const RemoteItem&) = delete;
  RemoteItem& operator=(const RemoteItem&) = delete;
  bool ok() const { return memory_ != nullptr; }

  // The item's text and whether it is expanded; false when the tree did not answer.
  bool Read(HWND tree, HTREEITEM item, std::wstring* text, bool* expanded) {
    TVITEMW data = {};
    data.mask = TVIF_TEXT | TVIF_STATE;
    data.hItem = item;
    data.stateMask = TVIS_EXPANDED;
    data.pszText = reinterpret_cast<LPWSTR>(memory_ + sizeof(TVITEMW));
    data.cchTextMax = kTextCapacity;
    SIZE_T moved = 0;
    DWORD_PTR answer = 0;
    if (!WriteProcessMemory(process_, memory_, &data, sizeof(data), &moved) ||
        !Ask(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(memory_), &answer) || answer == 0 ||
        !ReadProcessMemory(process_, memory_, &data, sizeof(data), &moved)) {
      return false;
    }
    wchar_t buffer[kTextCapacity] = {};
    if (!ReadProcessMemory(process_, memory_ + sizeof(TVITEMW), buffer, sizeof(buffer), &moved)) return false;
    buffer[kTextCapacity - 1] = L'\0';
    *text = buffer;
    *expanded = (data.state & TVIS_EXPANDED) != 0;
    return true;
  }

 private:
  HANDLE process_ = nullptr;
  BYTE* memory_ = nullptr;
};

HTREEITEM Next(HWND tree, UINT relation, HTREEITEM item) {
  DWORD_PTR answer = 0;
  if (!Ask(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item), &answer)) return nullptr;
  return reinterpret_cast<HTREEITEM>(answer);
}

// Lines "DEPTH +|- TEXT" (+ expanded), depth-first in display order.
void Collect(HWND tree, RemoteItem& remote, HTREEITEM item, int depth, std::vector<std::wstring>& lines) {
  for (; item != nullptr; item = Next(tree, TVGN_NEXT, item)) {
    std::wstring text;
    bool expanded = false;
    if (!remote.Read(tree, item, &text, &expanded)) return;
    lines.push_back(std::to_wstring(depth) + (expanded ? L" + " : L" - ") + Quoted(text));
    Collect(tree, remote, Next(tree, TVGN_CHILD, item), depth + 1, lines);
  }
}

bool TreeLines(HWND tree, std::vector<std::wstring>* lines) {
  RemoteItem remote(tree);
  if (!remote.ok()) return false;
  lines->clear();
  Collect(tree, remote, Next(tree, TVGN_ROOT, nullptr), 0, *lines);
  return true;
}

HWND TreeOfInvocation(const Invocation& call) {
  long id = 0;
  if (call.words.empty() || !ParseNumber(call.words[0], &id)) {
    Print(L"a control ID is needed");
    return nullptr;
  }
  HWND dialog = WaitForDialog(call.selector);
  return dialog != nullptr ? FindControl(dialog, static_cast<int>(id)) : nullptr;
}

int Tree(const Invocation& call) {
  HWND tree = TreeOfInvocation(call);
  std::vector<std::wstring> lines;
  if (tree == nullptr || !TreeLines(tree, &lines)) return 1;
  for (const std::wstring& line : lines) Print(line);
  return 0;
}

// Waits until some item's text contains TEXT, then prints the whole tree.
int WaitTree(const Invocation& call) {
  if (call.words.size() < 2) {
    Print(L"missing argument");
    return 2;
  }
  HWND tree = TreeOfInvocation(call);
  if (tree == nullptr) return 1;
  std::vector<std::wstring> lines;
  const bool met = WaitUntil(call.selector.timeout_ms, [&] {
    if (!TreeLines(tree, &lines)) return false;
    for (const std::wstring& line : lines) {
      if (line.find(call.words[1]) != std::wstring::npos) return true;
    }
    return false;
  });
  if (!met) Print(L"timed out");
  for (const std::wstring& line : lines) Print(line);
  return met ? 0 : 1;
}

const CommandRegistration kTree(L"tree", "ID  a tree view's items: DEPTH +|- \"TEXT\" (+ expanded)", Tree);
const CommandRegistration kWaitTree(L"wait-tree", "ID TEXT  until an item's text contains TEXT; then the items",
                                    WaitTree);

}  // namespace
