#include "install/print_policy.h"

#include "common/trace.h"
#include "platform/os.h"

bool ProtectedPrintModeOn() {
  DWORD value = 0;
  DWORD size = sizeof(value);
  const LSTATUS read = os.RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Policies\\Microsoft\\Windows NT\\Printers\\WPP",
                                       L"WindowsProtectedPrintGroupPolicyState", RRF_RT_REG_DWORD, nullptr, &value,
                                       &size);
  const bool on = read == ERROR_SUCCESS && value == 1;
  if (on) trace("Windows protected print mode is on: only Windows' own print drivers are admitted; nothing is installed.");
  return on;
}
