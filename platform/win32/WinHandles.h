// Owning wrappers for the Win32 handles and memory the layer uses.
#pragma once

#include <utility>

#include "platform/win32/WinApi.h"

namespace qp::win32 {

// Owns a handle; Close is called with it unless it equals Invalid.
template <typename H, typename Traits> class UniqueResource {
public:
  UniqueResource() = default;
  explicit UniqueResource(H h) : h_(h) {}
  UniqueResource(const UniqueResource &) = delete;
  UniqueResource &operator=(const UniqueResource &) = delete;
  UniqueResource(UniqueResource &&other) noexcept : h_(other.release()) {}
  UniqueResource &operator=(UniqueResource &&other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  ~UniqueResource() { reset(); }

  H get() const { return h_; }
  explicit operator bool() const { return Traits::Valid(h_); }
  H release() { return std::exchange(h_, Traits::Invalid()); }
  void reset(H h = Traits::Invalid()) {
    if (Traits::Valid(h_)) {
      Traits::Close(h_);
    }
    h_ = h;
  }
  // For out-parameters: frees what is held and hands out the slot.
  H *put() {
    reset();
    return &h_;
  }

private:
  H h_ = Traits::Invalid();
};

struct KernelHandleTraits {
  static HANDLE Invalid() { return nullptr; }
  static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FindHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HANDLE h) { ::FindClose(h); }
};
struct LocalMemTraits {
  static HLOCAL Invalid() { return nullptr; }
  static bool Valid(HLOCAL h) { return h != nullptr; }
  static void Close(HLOCAL h) { ::LocalFree(h); }
};
struct SidTraits {
  static PSID Invalid() { return nullptr; }
  static bool Valid(PSID h) { return h != nullptr; }
  static void Close(PSID h) { ::FreeSid(h); }
};

using UniqueHandle = UniqueResource<HANDLE, KernelHandleTraits>;
using UniqueFind = UniqueResource<HANDLE, FindHandleTraits>;
using UniqueLocal = UniqueResource<HLOCAL, LocalMemTraits>;
using UniqueSid = UniqueResource<PSID, SidTraits>;

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
