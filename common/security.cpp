#include "common/security.h"

#include "common/scoped_handle.h"
#include "platform/os.h"

SecurityDescriptor::SecurityDescriptor(const wchar_t* sddl) {
  // Pure conversion, no machine state: outside the seam, like its LocalFree.
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor_, nullptr)) {
    descriptor_ = nullptr;
  }
}

SecurityDescriptor::~SecurityDescriptor() {
  if (descriptor_ != nullptr) ::LocalFree(descriptor_);
}

bool ReadAccountSid(WideText<192>& sid) {
  sid.clear();
  HANDLE token_handle = nullptr;
  if (!os.OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token_handle)) return false;
  ScopedKernelHandle token(token_handle);
  // TOKEN_USER and the SID it points to, which follows it in the buffer.
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } information = {};
  DWORD size = 0;
  if (!os.GetTokenInformation(token.get(), TokenUser, &information, sizeof(information), &size)) return false;
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(information.user.User.Sid, &text)) return false;
  const bool copied = BoundedCopy(sid, text);
  ::LocalFree(text);
  return copied;
}
