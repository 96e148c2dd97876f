// Files that other programs may be reading, writing, renaming or deleting at the same time.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace kx {

// The file's bytes, read with sharing that denies nothing to others; nothing when it cannot be opened.
std::optional<std::string> ReadSharedFile(const std::wstring& path);
// The same for a file that is never larger than `maxBytes`; nothing when it is.
std::optional<std::string> ReadSharedFile(const std::wstring& path, std::size_t maxBytes);

// Writes `text` to `staging` and renames it to `path`, so that no reader sees half of it; the Win32 error,
// or ERROR_SUCCESS.
unsigned long WriteThenMove(const std::wstring& staging, const std::wstring& path, const std::string& text);

}  // namespace kx
