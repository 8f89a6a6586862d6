#include "common/privilege.h"

#include "common/scoped_handle.h"
#include "common/trace.h"
#include "platform/os.h"

bool EnableLoadDriverPrivilege() {
  HANDLE token_handle = nullptr;
  if (!os.OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token_handle)) {
    trace("The process token could not be opened, errcode:%u.", GetLastError());
    return false;
  }
  ScopedKernelHandle token(token_handle);
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!os.LookupPrivilegeValueW(nullptr, SE_LOAD_DRIVER_NAME, &privileges.Privileges[0].Luid)) {
    trace("SeLoadDriverPrivilege is not known, errcode:%u.", GetLastError());
    return false;
  }
  // Succeeds without enabling anything the token lacks: ERROR_NOT_ALL_ASSIGNED then.
  SetLastError(ERROR_SUCCESS);
  const BOOL adjusted = os.AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
  const DWORD error = GetLastError();
  if (!adjusted || error == ERROR_NOT_ALL_ASSIGNED) {
    trace("The account does not hold SeLoadDriverPrivilege (errcode:%u); the spooler will refuse.", error);
    return false;
  }
  return true;
}
