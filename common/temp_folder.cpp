#include "common/temp_folder.h"

#include "platform/os.h"

bool ReadTemporaryFolder(wchar_t* folder, DWORD capacity) {
  folder[0] = L'\0';
  DWORD length = os.GetTempPath2W(capacity, folder);
  // Only a Windows without it falls back: any other failure is not a reason
  // to use a folder others may write to.
  if (length == 0 && GetLastError() == ERROR_PROC_NOT_FOUND) length = os.GetTempPathW(capacity, folder);
  if (length == 0 || length >= capacity) {
    folder[0] = L'\0';
    return false;
  }
  return true;
}
