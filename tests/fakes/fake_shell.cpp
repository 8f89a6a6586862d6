// Shell deletion of folders, and change notification, on the fake machine.
#include <gtest/gtest.h>

#include <cwchar>
#include <vector>

#include "tests/fakes/fake_machine.h"

namespace {

std::wstring Text(const wchar_t* s) { return s != nullptr ? s : L""; }

std::wstring WithoutSlash(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

// Whether the shell follows a junction or link in what it deletes is not
// documented (SHFILEOPSTRUCT: "FOF_NORECURSEREPARSE: Not used"): the fake
// follows every one, the worst case, and deletes what it leads to.
void RemoveFollowingLinks(FakeMachine& m, const std::wstring& path) {
  const std::wstring reached = m.Resolve(path);
  if (m.IsLink(path)) {
    RemoveFollowingLinks(m, reached);
    RemoveDirectoryW(m.Resolve(path, true).c_str());
    DeleteFileW(m.Resolve(path, true).c_str());
    m.links.erase(m.Resolve(path, true));
    return;
  }
  const DWORD attributes = GetFileAttributesW(reached.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(reached.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(reached.c_str());
    return;
  }
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((reached + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  for (const std::wstring& name : names) RemoveFollowingLinks(m, reached + L"\\" + name);
  RemoveDirectoryW(reached.c_str());
}

// Deletes each folder or file of the list for real (the Recycle Bin is not modelled)
// and records it.
int WINAPI FakeSHFileOperationW(LPSHFILEOPSTRUCTW operation) {
  FakeMachine& m = Fake();
  const std::wstring first = operation != nullptr ? Text(operation->pFrom) : L"";
  if (m.Enter(Seam::SHFileOperationW, first)) return ERROR_ACCESS_DENIED;
  if (operation == nullptr || operation->wFunc != FO_DELETE) {
    ADD_FAILURE() << "the fake shell only deletes";
    return ERROR_INVALID_PARAMETER;
  }
  m.shell_flags = operation->fFlags;
  operation->fAnyOperationsAborted = FALSE;
  // SHFILEOPSTRUCT: "fAnyOperationsAborted - TRUE if any file operations
  // were aborted before they were completed"; the function itself returns 0.
  if (m.shell_aborts) {
    operation->fAnyOperationsAborted = TRUE;
    return 0;
  }
  int result = 0;
  for (const wchar_t* path = operation->pFrom; path != nullptr && *path != L'\0';
       path += std::wcslen(path) + 1) {
    m.deleted_trees.push_back(path);
    if (GetFileAttributesW(m.Resolve(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
      result = ERROR_FILE_NOT_FOUND;
    } else {
      RemoveFollowingLinks(m, WithoutSlash(path));
    }
  }
  return result;
}

void WINAPI FakeSHChangeNotify(LONG event, UINT, LPCVOID item, LPCVOID) {
  Fake().calls.push_back({Seam::SHChangeNotify, std::to_wstring(event) + L" " +
                                                Text(static_cast<const wchar_t*>(item))});
}

}  // namespace

void InstallShellFakes(OsTable& t) {
  t.SHFileOperationW = FakeSHFileOperationW;
  t.SHChangeNotify = FakeSHChangeNotify;
}
