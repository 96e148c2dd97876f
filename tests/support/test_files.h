// File helpers for tests: exact bytes in and out, a listing of what a folder holds, and text tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kx::test {

// The file's bytes, or nothing when it cannot be opened.
std::optional<std::string> ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);

bool IsFile(const std::wstring& path);
bool IsFolder(const std::wstring& path);

// Paths of every file and folder below root, relative to it, with "\" separators, sorted.
std::vector<std::wstring> ListTree(const std::wstring& root);

inline bool Contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}
inline bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace kx::test
