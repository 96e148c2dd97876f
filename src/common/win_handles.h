// Owners for Win32 and C runtime resources: one small type per kind of handle, each knowing its own empty
// value, so that nothing is released by hand on a return path.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdio>

namespace kx {

// Traits supply: `Value` (the raw handle type), `Empty()` and `Close(Value)`.
template <typename Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;

  UniqueResource() noexcept : value_(Traits::Empty()) {}
  explicit UniqueResource(Value value) noexcept : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Value get() const noexcept { return value_; }
  bool valid() const noexcept { return value_ != Traits::Empty(); }
  explicit operator bool() const noexcept { return valid(); }

  Value release() noexcept {
    Value value = value_;
    value_ = Traits::Empty();
    return value;
  }
  void reset(Value value = Traits::Empty()) noexcept {
    if (valid()) Traits::Close(value_);
    value_ = value;
  }
  // Releases what is held and hands out the address, for APIs that return a handle through a pointer.
  Value* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Value value_;
};

namespace handle_traits {

// Process, thread, event and similar kernel handles: empty is null.
struct Kernel {
  using Value = HANDLE;
  static Value Empty() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::CloseHandle(value); }
};

// CreateFileW results: empty is INVALID_HANDLE_VALUE.
struct File {
  using Value = HANDLE;
  static Value Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Value value) noexcept { ::CloseHandle(value); }
};

struct Find {
  using Value = HANDLE;
  static Value Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Value value) noexcept { ::FindClose(value); }
};

struct RegistryKey {
  using Value = HKEY;
  static Value Empty() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::RegCloseKey(value); }
};

template <typename T>
struct CoTaskMem {
  using Value = T*;
  static Value Empty() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::CoTaskMemFree(value); }
};

template <typename T>
struct LocalMem {
  using Value = T*;
  static Value Empty() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::LocalFree(value); }
};

struct CrtFile {
  using Value = FILE*;
  static Value Empty() noexcept { return nullptr; }
  static void Close(Value value) noexcept { std::fclose(value); }
};

}  // namespace handle_traits

// COM on the calling thread for the owner's lifetime. Uninitialises only when its own initialisation
// succeeded (S_FALSE included: every successful call must be balanced), so a thread that was already in
// another apartment is left as it was.
class ComApartment {
 public:
  explicit ComApartment(DWORD concurrencyModel) noexcept
      : result_(::CoInitializeEx(nullptr, concurrencyModel)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  bool entered() const noexcept { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

using UniqueHandle = UniqueResource<handle_traits::Kernel>;
using UniqueFileHandle = UniqueResource<handle_traits::File>;
using UniqueFindHandle = UniqueResource<handle_traits::Find>;
using UniqueRegKey = UniqueResource<handle_traits::RegistryKey>;
using UniqueCrtFile = UniqueResource<handle_traits::CrtFile>;
template <typename T>
using UniqueCoTaskMem = UniqueResource<handle_traits::CoTaskMem<T>>;
template <typename T>
using UniqueLocalMem = UniqueResource<handle_traits::LocalMem<T>>;

}  // namespace kx
