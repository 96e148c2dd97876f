// What identifies one build of a module, in the forms symbol servers key their files by (docs/symbols.md):
// the code id (the PE time stamp and the image size) names the image, the debug id (the CodeView record's
// GUID and age) names its debug information, and survives stripping.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// The CodeView record ("RSDS") a linker writes into an image's debug directory: MSVC's with /DEBUG, MinGW's
// with --build-id.
struct CodeViewRecord {
  std::array<std::uint8_t, 16> guid{};  // as stored: Data1 to Data3 little-endian, then Data4
  std::uint32_t age = 0;
  std::string pdbPath;  // as stored, up to its NUL; empty when the linker named no PDB (MinGW)
};

// The record in `bytes` (exactly the debug directory entry's data); nothing when it is not an RSDS record.
std::optional<CodeViewRecord> ParseCodeViewRecord(std::string_view bytes);

// "%08X%x" of the time stamp and the image size: "6B16E083789000".
std::string CodeIdText(std::uint32_t timeDateStamp, std::uint32_t sizeOfImage);

// The GUID as 32 upper-case hexadecimal digits (Data1, Data2 and Data3 as numbers, then Data4's bytes),
// followed by the age in lower-case hexadecimal: "124027BBDF2C08A82503C481FFA80CD81".
std::string DebugIdText(const CodeViewRecord& record);

// The file name at the end of a Windows or Unix path: after the last '\' or '/'.
std::string_view FileNameOfPath(std::string_view path);

}  // namespace kx
