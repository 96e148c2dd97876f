// The binaryImageSet content: one line per module loaded in the crashed process, with its address range and a
// reduced name. Full paths never reach the report: only the file name, after one of the module words when the
// path mentions it (the maker's name and its products' names).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "stackwalk/module_identity.h"

namespace kx {

// The text after the last occurrence of the separator; the whole path when it does not occur (or is empty).
std::string LastPathComponent(std::string_view path, std::string_view separator);
std::wstring LastPathComponent(std::wstring_view path, std::wstring_view separator);

// The module's file name (after the last backslash), prefixed by the first module word ("orvan", "glint",
// "tessaline", "tumbleclatter", in this order) that the path contains in any ASCII letter case, and a
// backslash: "orvan\kxcore.dll".
std::wstring FilterModulePath(std::wstring_view fullPath);

// What identifies the module's build, read from its headers in the crashed process.
struct BinaryImageIds {
  std::optional<std::uint32_t> timeDateStamp;
  std::optional<CodeViewRecord> codeView;
};

// One binaryImage line: start and end (start + size, one past the last byte) as "0x" and 16 upper-case
// hexadecimal digits; when known, the code id, the debug id and the PDB's file name (docs/symbols.md); then
// the reduced, escaped name.
std::wstring FormatBinaryImageLine(std::uint64_t baseOfImage, std::uint32_t sizeOfImage,
                                   std::wstring_view fullPath, const BinaryImageIds& ids = {});

}  // namespace kx
