// A whole file mapped read-only into memory (Linux), for the readers to take as bytes. The owner keeps the
// mapping for its lifetime; bytes() is valid until it is destroyed or moved from.
#pragma once

#include <string>
#include <string_view>

namespace kx {

class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  ~MappedFile();

  // Maps a regular file; 0, or the errno of the step that failed (EISDIR for anything but a regular file).
  int Open(const std::string& path);

  // The file's bytes; empty for an empty file.
  std::string_view bytes() const { return {static_cast<const char*>(address_), size_}; }

 private:
  void Release();
  void* address_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace kx
