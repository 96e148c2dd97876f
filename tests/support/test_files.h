// File helpers for tests: exact bytes in and out, and a listing of what a folder holds.
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

}  // namespace kx::test
