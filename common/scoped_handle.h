// Scoped handles: whatever a function obtains from the machine it closes on
// every path out, through the same seam it was obtained through.
#pragma once

#include <utility>

#include "platform/os.h"

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() : handle_(Traits::Invalid()) {}
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.take()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) reset(other.take());
    return *this;
  }
  ~ScopedHandle() { reset(); }

  explicit operator bool() const { return Traits::IsValid(handle_); }
  Handle get() const { return handle_; }
  // For out-parameters: closes what is held and hands out the slot.
  Handle* receive() {
    reset();
    return &handle_;
  }
  Handle take() { return std::exchange(handle_, Traits::Invalid()); }
  void reset(Handle handle = Traits::Invalid()) {
    if (Traits::IsValid(handle_)) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_;
};

struct PrinterHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { os.ClosePrinter(h); }
};

struct ServiceHandleTraits {
  using Handle = SC_HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { os.CloseServiceHandle(h); }
};

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { os.RegCloseKey(h); }
};

struct DeviceInfoSetTraits {
  using Handle = HDEVINFO;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(Handle h) { os.SetupDiDestroyDeviceInfoList(h); }
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { os.CloseHandle(h); }
};

struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { os.LocalFree(h); }
};

using ScopedPrinter = ScopedHandle<PrinterHandleTraits>;
using ScopedService = ScopedHandle<ServiceHandleTraits>;
using ScopedKey = ScopedHandle<RegistryKeyTraits>;
using ScopedDeviceInfoSet = ScopedHandle<DeviceInfoSetTraits>;
using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedLocalMemory = ScopedHandle<LocalMemoryTraits>;

// A block from the local heap, typed.
template <typename T>
T* LocalAllocZeroed(size_t bytes = sizeof(T)) {
  return static_cast<T*>(os.LocalAlloc(LPTR, bytes));
}
