#include "handler/fault_site_rule.h"

namespace kx {

std::size_t FaultFrameIndex(const FrameRole* roles, std::size_t count, bool calledByRuntime) {
  std::size_t index = 0;
  while (index < count && roles[index] == FrameRole::kHandler) ++index;
  // The runtime's frame that called the handler may be an internal function no one can name.
  if (calledByRuntime && index < count) ++index;
  while (index < count && roles[index] == FrameRole::kEntry) ++index;
  return index;
}

std::uint64_t CallSiteAddress(std::uint64_t returnAddress, const unsigned char (&before)[6]) {
  if (before[1] == 0xE8) return returnAddress - 5;
  if (before[0] == 0xFF && before[1] == 0x15) return returnAddress - 6;
  return returnAddress - 1;
}

void CopyBoundedText(char* destination, std::size_t capacity, const char* source) {
  if (capacity == 0) return;
  std::size_t length = 0;
  if (source != nullptr) {
    while (length + 1 < capacity && source[length] != '\0') {
      destination[length] = source[length];
      ++length;
    }
  }
  destination[length] = '\0';
}

}  // namespace kx
