#include "common/ascii_text.h"

namespace kx {

void LowerAsciiInPlace(std::string& text) {
  for (char& c : text) {
    if (c == '\0') return;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

}  // namespace kx
