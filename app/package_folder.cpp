#include "app/package_folder.h"

#include <cwchar>

#include "app/uninstaller_handover.h"
#include "common/scoped_handle.h"
#include "common/text.h"
#include "common/trace.h"
#include "platform/os.h"

namespace {

// Rights that let an account put a file or folder into the folder, take
// one out, rename the folder, or give itself those rights.
constexpr ACCESS_MASK kChangingRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE |
                                        WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

constexpr wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool RunsElevated() {
  HANDLE token_handle = nullptr;
  if (!os.OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token_handle)) return false;
  ScopedKernelHandle token(token_handle);
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  return os.GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
         elevation.TokenIsElevated != 0;
}

// SYSTEM, Administrators, TrustedInstaller and the folder's owner may
// change it without harm: they can change the system itself.
bool IsTrusted(PSID sid, PSID owner) {
  if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return true;
  if (owner != nullptr && EqualSid(sid, owner)) return true;
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return false;
  const bool installer = std::wcscmp(text, kTrustedInstaller) == 0;
  ::LocalFree(text);
  return installer;
}

// Whether an account that is not trusted may change what is in `folder`;
// false when its DACL cannot be read.
bool OthersMayChange(const wchar_t* folder) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (os.GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                               &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const LocalBlock<BYTE> block(static_cast<BYTE*>(descriptor));
  if (dacl == nullptr) return true;  // no DACL: everyone may do everything
  ACL_SIZE_INFORMATION size = {};
  if (!GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation)) return false;
  for (DWORD i = 0; i < size.AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return false;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    // Denials only narrow; an entry for what the folder holds is not the folder's own.
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (allowed->Header.AceFlags & INHERIT_ONLY_ACE) != 0 ||
        (allowed->Mask & kChangingRights) == 0) {
      continue;
    }
    if (!IsTrusted(const_cast<DWORD*>(&allowed->SidStart), owner)) return true;
  }
  return false;
}

}  // namespace

void WarnOfAFolderOthersMayChange() {
  WideText<kPathCapacity> module_path;
  if (!RunsElevated() || !ReadModulePath(module_path)) return;
  wchar_t* last = std::wcsrchr(module_path.data(), L'\\');
  if (last == nullptr) return;
  *last = L'\0';
  if (OthersMayChange(module_path.c_str())) {
    trace("The folder %ws can be changed by accounts other than administrators: what is put beside the program "
          "there runs with its rights. Keep the package in a folder only administrators can change.",
          module_path);
  }
}
