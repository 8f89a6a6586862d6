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

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(Handle h) { os.FindClose(h); }
};

// The single-instance lock: the tool never owns its mutex, so ReleaseMutex
// has nothing to release; closing the handle is what ends the lock.
struct MutexTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) {
    os.ReleaseMutex(h);
    os.CloseHandle(h);
  }
};

// A private namespace: closed, not destroyed; objects in it live on while
// their handles are open.
struct NamespaceTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { os.ClosePrivateNamespace(h, 0); }
};

struct BoundaryTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { os.DeleteBoundaryDescriptor(h); }
};

using ScopedPrinter = ScopedHandle<PrinterHandleTraits>;
using ScopedService = ScopedHandle<ServiceHandleTraits>;
using ScopedKey = ScopedHandle<RegistryKeyTraits>;
using ScopedDeviceInfoSet = ScopedHandle<DeviceInfoSetTraits>;
using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedMutex = ScopedHandle<MutexTraits>;
using ScopedFind = ScopedHandle<FindHandleTraits>;
using ScopedNamespace = ScopedHandle<NamespaceTraits>;
using ScopedBoundary = ScopedHandle<BoundaryTraits>;

// A typed block from the local heap, released on every path out unless it is
// taken. Records come zero-filled (LPTR) unless other flags are asked for.
template <typename T>
class LocalBlock {
 public:
  LocalBlock() = default;
  explicit LocalBlock(T* block) : block_(block) {}
  LocalBlock(const LocalBlock&) = delete;
  LocalBlock& operator=(const LocalBlock&) = delete;
  LocalBlock(LocalBlock&& other) noexcept : block_(other.take()) {}
  LocalBlock& operator=(LocalBlock&& other) noexcept {
    if (this != &other) reset(other.take());
    return *this;
  }
  ~LocalBlock() { reset(); }

  // A block of `bytes` (at least one T); empty when the heap refuses.
  static LocalBlock Allocate(size_t bytes = sizeof(T), UINT flags = LPTR) {
    return LocalBlock(static_cast<T*>(os.LocalAlloc(flags, bytes)));
  }

  explicit operator bool() const { return block_ != nullptr; }
  T* get() const { return block_; }
  T* operator->() const { return block_; }
  // The block as the bytes a Windows call fills.
  LPBYTE bytes() const { return reinterpret_cast<LPBYTE>(block_); }
  T* take() { return std::exchange(block_, nullptr); }
  void reset(T* block = nullptr) {
    if (block_ != nullptr) os.LocalFree(block_);
    block_ = block;
  }

 private:
  T* block_ = nullptr;
};

// A zero-filled record from the local heap that its owner keeps (list nodes
// that live as long as the process), or null.
template <typename T>
T* LocalAllocZeroed(size_t bytes = sizeof(T)) {
  return LocalBlock<T>::Allocate(bytes).take();
}
