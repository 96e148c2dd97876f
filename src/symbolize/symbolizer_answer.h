// What kxsymbolizer answers for one address (one line of JSON), and which of it to believe.
// A name is shown only when the debug information places the address in it (a file and a line), or when the
// symbol table's function starts where the image's function table says the function holding the address
// starts (for code the table has no entry for: when no function of the table starts between the two): the
// nearest symbol before an address that has no symbol of its own would be another function's name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stackwalk/pe_image.h"
#include "stackwalk/source_frame.h"

namespace kx {

struct SymbolizerAnswer {
  std::vector<SourceFrame> frames;
  std::optional<std::uint64_t> functionStart;  // the outermost function's start, as an address of the image
  std::string error;                           // the symbolizer's complaint about the file, if any
};

// Nothing when `line` is not an answer of that form.
std::optional<SymbolizerAnswer> ParseSymbolizerAnswer(std::string_view line);

// The frames of `answer` worth showing for the code at `rva` of `image`; empty when none is.
std::vector<SourceFrame> TrustedFrames(const SymbolizerAnswer& answer, const PeImage& image,
                                       std::uint32_t rva);

}  // namespace kx
