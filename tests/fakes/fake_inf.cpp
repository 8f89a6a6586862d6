// INF information from the driver store, on the fake machine.
#include <gtest/gtest.h>

#include <cwchar>

#include "tests/fakes/fake_machine.h"

namespace {

std::wstring Text(const wchar_t* s) { return s != nullptr ? s : L""; }

}  // namespace

bool FindDriverVer(FakeMachine& m, const std::wstring& path, std::wstring& version) {
  auto given = m.spooler.inf_versions.find(path);
  if (given != m.spooler.inf_versions.end()) {
    version = given->second;
    return true;
  }
  const std::wstring real = m.RealPath(path);
  if (GetFileAttributesW(real.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  wchar_t text[128] = {};
  GetPrivateProfileStringW(L"Version", L"DriverVer", L"", text, 128, real.c_str());
  version = text;
  return true;
}

namespace {

// The information block holds the INF path in its version data, so that the
// version query can find the INF again.
BOOL WINAPI FakeSetupGetInfInformationW(LPCVOID spec, DWORD search, PSP_INF_INFORMATION info, DWORD size,
                                        PDWORD required) {
  FakeMachine& m = Fake();
  const std::wstring path = Text(static_cast<const wchar_t*>(spec));
  if (m.Enter(Seam::SetupGetInfInformationW, path)) return FALSE;
  if (search != INFINFO_INF_NAME_IS_ABSOLUTE) {
    ADD_FAILURE() << "the fake finds INF files by absolute path only";
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::wstring version;
  if (!FindDriverVer(m, path, version)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  const DWORD need = static_cast<DWORD>(offsetof(SP_INF_INFORMATION, VersionData) +
                                        (path.size() + 1) * sizeof(wchar_t));
  if (required != nullptr) *required = need;
  if (info == nullptr) return TRUE;
  if (size < need) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->InfStyle = INF_STYLE_WIN4;
  info->InfCount = 1;
  std::wmemcpy(reinterpret_cast<wchar_t*>(info->VersionData), path.c_str(), path.size() + 1);
  return TRUE;
}

BOOL WINAPI FakeSetupQueryInfVersionInformationW(PSP_INF_INFORMATION info, UINT index, PCWSTR key,
                                                 PWSTR buffer, DWORD size, PDWORD required) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::SetupQueryInfVersionInformationW, Text(key))) return FALSE;
  if (info == nullptr || index >= info->InfCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::wstring path = reinterpret_cast<const wchar_t*>(info->VersionData);
  std::wstring version;
  if (!FindDriverVer(m, path, version) || _wcsicmp(Text(key).c_str(), L"DriverVer") != 0 || version.empty()) {
    SetLastError(ERROR_LINE_NOT_FOUND);
    return FALSE;
  }
  const DWORD need = static_cast<DWORD>(version.size() + 1);
  if (required != nullptr) *required = need;
  if (buffer == nullptr || size < need) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::wmemcpy(buffer, version.c_str(), need);
  return TRUE;
}

}  // namespace

void InstallInfFakes(OsTable& t) {
  t.SetupGetInfInformationW = FakeSetupGetInfInformationW;
  t.SetupQueryInfVersionInformationW = FakeSetupQueryInfVersionInformationW;
}
