// A function at an address, as a symbolizer names it from a module's debug information.
#pragma once

#include <cstdint>
#include <string>

namespace kx {

// One function at an address. An address gives a list of them: the innermost inlined function first, each
// inlined into the next, the function whose code holds the address last.
struct SourceFrame {
  std::string function;  // demangled, as the symbolizer writes it
  std::string file;      // empty when the debug information gives none
  std::uint32_t line = 0;
  std::uint32_t column = 0;
};

}  // namespace kx
