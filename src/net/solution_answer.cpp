#include "net/solution_answer.h"

#include <algorithm>

namespace kx {

bool IsDumpWanted(std::string_view attachDump) {
  if (attachDump == "-1") return false;
  return attachDump.empty() || (attachDump.front() != 'N' && attachDump.front() != 'n');
}

bool IsOpenableLink(std::string_view link) {
  const bool webAddress = link.rfind("https://", 0) == 0 || link.rfind("http://", 0) == 0;
  // Bytes above 0x7F stay: they are characters of the ANSI code page, not controls.
  const bool argumentSafe = std::none_of(link.begin(), link.end(), [](char c) {
    const auto code = static_cast<unsigned char>(c);
    return code <= 0x20 || code == 0x7F || c == '"';
  });
  return webAddress && argumentSafe;
}

}  // namespace kx
