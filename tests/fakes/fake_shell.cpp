// Shell deletion of folders, and change notification, on the fake machine.
#include <gtest/gtest.h>

#include <cwchar>

#include "tests/fakes/fake_machine.h"

namespace {

std::wstring Text(const wchar_t* s) { return s != nullptr ? s : L""; }

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
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      result = ERROR_FILE_NOT_FOUND;
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveRealTree(path);
    } else {
      DeleteFileW(path);
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
