// Owning wrappers for the Win32 handles and memory the layer uses.
#pragma once

#include <utility>

#include "platform/UniqueAny.h"
#include "platform/win32/WinApi.h"

namespace qp::win32 {

// Kernel objects (events, processes, threads, tokens): invalid when null.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static constexpr HANDLE Invalid() noexcept { return nullptr; }
  static void Close(HANDLE h) noexcept { ::CloseHandle(h); }
};
// Files from CreateFile: invalid when INVALID_HANDLE_VALUE (-1).
struct FileHandleTraits {
  using Handle = HANDLE;
  static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) noexcept { ::CloseHandle(h); }
};
// Searches from FindFirstFile: invalid when INVALID_HANDLE_VALUE (-1).
struct FindHandleTraits {
  using Handle = HANDLE;
  static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) noexcept { ::FindClose(h); }
};
struct LocalMemTraits {
  using Handle = HLOCAL;
  static constexpr HLOCAL Invalid() noexcept { return nullptr; }
  static void Close(HLOCAL h) noexcept { ::LocalFree(h); }
};
struct SidTraits {
  using Handle = PSID;
  static constexpr PSID Invalid() noexcept { return nullptr; }
  static void Close(PSID h) noexcept { ::FreeSid(h); }
};

using UniqueHandle = qp::TUniqueAny<KernelHandleTraits>;
using UniqueFile = qp::TUniqueAny<FileHandleTraits>;
using UniqueFind = qp::TUniqueAny<FindHandleTraits>;
using UniqueLocal = qp::TUniqueAny<LocalMemTraits>;
using UniqueSid = qp::TUniqueAny<SidTraits>;

// A COM interface pointer released on destruction.
template <typename T> class ComPtr {
public:
  ComPtr() = default;
  ComPtr(const ComPtr &) = delete;
  ComPtr &operator=(const ComPtr &) = delete;
  ~ComPtr() {
    if (p_ != nullptr) {
      p_->Release();
    }
  }
  T *get() const { return p_; }
  T *operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void **put_void() {
    if (p_ != nullptr) {
      p_->Release();
      p_ = nullptr;
    }
    return reinterpret_cast<void **>(&p_);
  }

private:
  T *p_ = nullptr;
};

// COM initialised on the calling thread for the life of the object; undone
// only when this object did the initialisation.
class ComScope {
public:
  ComScope() {
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    initialised_ = SUCCEEDED(hr);
    usable_ = initialised_ || hr == RPC_E_CHANGED_MODE;
  }
  ComScope(const ComScope &) = delete;
  ComScope &operator=(const ComScope &) = delete;
  ~ComScope() {
    if (initialised_) {
      ::CoUninitialize();
    }
  }
  bool Usable() const { return usable_; }

private:
  bool initialised_ = false;
  bool usable_ = false;
};

// A function exported by a module, typed; null when the module or the name
// is missing.
template <typename Fn> Fn ProcAddress(HMODULE module, const char *name) {
  if (module == nullptr) {
    return nullptr;
  }
  // Through the generic function type, which any function pointer may take.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

} // namespace qp::win32
