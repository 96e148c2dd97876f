// Owners for the COM objects, strings and values of the WMI query: each one is released on every return path,
// and all of them before COM is uninitialised.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "common/win_handles.h"

namespace kx {

// Holds one reference to a COM interface.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ~ComPtr() { reset(); }
  ComPtr(ComPtr&& other) noexcept : pointer_(other.pointer_) { other.pointer_ = nullptr; }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      pointer_ = other.pointer_;
      other.pointer_ = nullptr;
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  Interface* get() const noexcept { return pointer_; }
  Interface* operator->() const noexcept { return pointer_; }
  explicit operator bool() const noexcept { return pointer_ != nullptr; }

  void reset() noexcept {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }
  // Releases what is held and hands out the address, for calls that return an interface through a pointer.
  Interface** put() noexcept {
    reset();
    return &pointer_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

 private:
  Interface* pointer_ = nullptr;
};

namespace handle_traits {

struct Bstr {
  using Value = BSTR;
  static Value Empty() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::SysFreeString(value); }
};

}  // namespace handle_traits

using UniqueBstr = UniqueResource<handle_traits::Bstr>;

// A VARIANT that is cleared when it is refilled and when it goes away.
class UniqueVariant {
 public:
  UniqueVariant() noexcept { ::VariantInit(&value_); }
  ~UniqueVariant() { ::VariantClear(&value_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;

  const VARIANT& get() const noexcept { return value_; }
  VARIANT* put() noexcept {
    ::VariantClear(&value_);
    return &value_;
  }

 private:
  VARIANT value_;
};

}  // namespace kx
