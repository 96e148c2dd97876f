// A whole file mapped read-only into memory, for the parser to read as bytes. The owner keeps the file
// handle, the mapping and the view for its lifetime; bytes() is valid until it is destroyed.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "common/win_handles.h"

namespace kx {

namespace handle_traits {
// MapViewOfFile results: empty is null, released with UnmapViewOfFile.
struct MappedView {
  using Value = const void*;
  static Value Empty() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::UnmapViewOfFile(value); }
};
}  // namespace handle_traits

using UniqueMappedView = UniqueResource<handle_traits::MappedView>;

class MappedFile {
 public:
  // Opens and maps the file, sharing it with writers and deleters so that a dump still being written or
  // moved can be looked at. Returns 0, or the Win32 error of the step that failed.
  DWORD Open(const std::wstring& path);

  // The file's bytes; empty for an empty file (which cannot be mapped, and needs not be).
  std::string_view bytes() const { return bytes_; }

 private:
  UniqueFileHandle file_;
  UniqueHandle mapping_;
  UniqueMappedView view_;
  std::string_view bytes_;
};

}  // namespace kx
