#include "rules/signature.h"

namespace kx::server {
namespace {

constexpr std::string_view kOffsetMark = "+0x";

std::string_view FirstLine(std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) return line;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return {};
}

}  // namespace

std::string CrashSignature(const ReportFacts& facts) {
  // "<index> <module>+0x<offset> 0x<address>": a module name may hold blanks, so the frame is what lies
  // between the first blank and the last.
  const std::string_view line = FirstLine(facts.stackText);
  const std::size_t first = line.find(' ');
  const std::size_t last = line.rfind(' ');
  if (first != std::string_view::npos && last > first) {
    const std::string_view frame = line.substr(first + 1, last - first - 1);
    const std::size_t mark = frame.rfind(kOffsetMark);
    if (mark != std::string_view::npos && mark > 0 && mark + kOffsetMark.size() < frame.size())
      return std::string(frame);
  }
  return "?? " + facts.exceptionCode;
}

std::string SignatureModule(std::string_view signature) {
  const std::size_t mark = signature.rfind(kOffsetMark);
  if (mark == std::string_view::npos || signature.substr(0, 3) == "?? ") return {};
  return std::string(signature.substr(0, mark));
}

}  // namespace kx::server
