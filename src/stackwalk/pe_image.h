// A 64-bit PE image (an .exe or .dll) read from its bytes, which may be hostile: as a file on disk (a module
// from a symbol store) or as loaded into memory (the first page of a module in a live process). Only what
// stack walking and module identity need: the headers, the sections, the debug directory's CodeView record
// and the function table (.pdata) with the unwind information it points to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stackwalk/module_identity.h"

namespace kx {

// How the bytes are laid out: as the file (sections at their file offsets) or as loaded (at their RVAs).
enum class PeLayout { kFile, kMapped };

struct PeSection {
  std::uint32_t virtualAddress = 0;
  std::uint32_t virtualSize = 0;
  std::uint32_t rawOffset = 0;
  std::uint32_t rawSize = 0;
  bool executable = false;
};

// One entry of the function table: the function's code [begin, end) and its unwind information, as RVAs.
struct RuntimeFunction {
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
  std::uint32_t unwindInfo = 0;
};

struct PeDirectory {
  std::uint32_t rva = 0;
  std::uint32_t size = 0;
};

class PeImage {
 public:
  // The image's headers; nothing (and `why` says why) when the bytes are not a PE32+ image whose headers
  // and section table lie inside them. With kMapped, `bytes` may be the headers alone: what lies beyond
  // them simply cannot be read.
  static std::optional<PeImage> Parse(std::string_view bytes, PeLayout layout, std::string* why = nullptr);

  std::uint16_t machine() const { return machine_; }  // 0x8664 for x64
  std::uint32_t timeDateStamp() const { return timeDateStamp_; }
  std::uint32_t sizeOfImage() const { return sizeOfImage_; }
  std::uint64_t imageBase() const { return imageBase_; }  // the preferred load address
  const PeDirectory& exceptionDirectory() const { return exception_; }
  const PeDirectory& debugDirectory() const { return debug_; }

  // The bytes [rva, rva + size) as loaded; nothing when any of them is not in the bytes given (in a file,
  // beyond a section's raw data; the loader zero-fills that, but no code or table lies there).
  std::optional<std::string_view> Read(std::uint64_t rva, std::uint64_t size) const;

  // The function table entry whose code holds `rva`; nothing for code without one (a leaf function) or a
  // table that is not sorted, as the loader requires.
  std::optional<RuntimeFunction> FunctionAt(std::uint32_t rva) const;
  // The first function table entry that begins at or after `rva`.
  std::optional<RuntimeFunction> FunctionFrom(std::uint32_t rva) const;
  std::size_t FunctionCount() const;
  std::optional<RuntimeFunction> FunctionByIndex(std::size_t index) const;

  // Whether `rva` lies in a section holding code.
  bool IsCode(std::uint32_t rva) const;

  // The CodeView record of the debug directory, when the image has one.
  std::optional<CodeViewRecord> CodeView() const;

 private:
  std::string_view bytes_;
  PeLayout layout_ = PeLayout::kFile;
  std::uint16_t machine_ = 0;
  std::uint32_t timeDateStamp_ = 0;
  std::uint32_t sizeOfImage_ = 0;
  std::uint32_t sizeOfHeaders_ = 0;
  std::uint64_t imageBase_ = 0;
  PeDirectory exception_;
  PeDirectory debug_;
  std::vector<PeSection> sections_;
  std::string_view functions_;  // the function table's whole entries
};

// Where the CodeView record lies, read from the debug directory's entries (`entries`, as Read gives them):
// its RVA (`file` false) or its file offset (`file` true), and its size; nothing when no entry is one.
std::optional<PeDirectory> CodeViewEntry(std::string_view entries, bool file);

}  // namespace kx
