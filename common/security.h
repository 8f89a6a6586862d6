// Security descriptors the tool gives what it creates, and the account it
// runs as.
#pragma once

#include "common/text.h"
#include "platform/win.h"

// A security descriptor made from its text form (SDDL), released with the
// block Windows made it in.
class SecurityDescriptor {
 public:
  // Empty when the text does not describe one; GetLastError tells why.
  explicit SecurityDescriptor(const wchar_t* sddl);
  ~SecurityDescriptor();
  SecurityDescriptor(const SecurityDescriptor&) = delete;
  SecurityDescriptor& operator=(const SecurityDescriptor&) = delete;
  explicit operator bool() const { return descriptor_ != nullptr; }
  PSECURITY_DESCRIPTOR get() const { return descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// The running account's SID in its text form ("S-1-5-..."); false when the
// process token could not tell it.
bool ReadAccountSid(WideText<192>& sid);
