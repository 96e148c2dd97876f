#include "rules/signature.h"

#include <optional>

#include "common/hex_text.h"

namespace kx::server {
namespace {

constexpr std::string_view kOffsetMark = "+0x";

std::optional<std::uint64_t> HexNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 16) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : digits) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint64_t>(digit);
  }
  return value;
}

// A module name may hold blanks, so the frame is what lies between the line's first blank and its last.
std::optional<SignatureFrame> FrameOfLine(std::string_view line) {
  const std::size_t first = line.find(' ');
  const std::size_t last = line.rfind(' ');
  if (first == std::string_view::npos || last <= first) return std::nullopt;
  const std::string_view frame = line.substr(first + 1, last - first - 1);
  const std::string_view address = line.substr(last + 1);
  if (frame == "??") {
    const std::optional<std::uint64_t> value =
        address.substr(0, 2) == "0x" ? HexNumber(address.substr(2)) : std::nullopt;
    if (!value) return std::nullopt;
    return SignatureFrame{{}, *value, {}};
  }
  const std::size_t mark = frame.rfind(kOffsetMark);
  if (mark == std::string_view::npos || mark == 0) return std::nullopt;
  const std::optional<std::uint64_t> offset = HexNumber(frame.substr(mark + kOffsetMark.size()));
  if (!offset) return std::nullopt;
  return SignatureFrame{std::string(frame.substr(0, mark)), *offset, {}};
}

}  // namespace

std::vector<SignatureFrame> StackTextFrames(std::string_view stackText) {
  std::vector<SignatureFrame> frames;
  while (!stackText.empty()) {
    const std::size_t end = stackText.find('\n');
    std::string_view line = stackText.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (auto frame = FrameOfLine(line)) frames.push_back(std::move(*frame));
    if (end == std::string_view::npos) break;
    stackText.remove_prefix(end + 1);
  }
  return frames;
}

std::string CrashSignature(const ReportFacts& facts) {
  return ComputeCrashSignature(StackTextFrames(facts.stackText)).text;
}

bool IsNamedSignature(std::string_view signature) {
  const std::size_t bang = signature.find('!');
  return bang != std::string_view::npos && bang > 0 && bang + 1 < signature.size();
}

std::string SignatureModule(std::string_view signature) {
  const std::size_t end = IsNamedSignature(signature) ? signature.find('!') : signature.rfind(kOffsetMark);
  if (end == std::string_view::npos || signature.substr(0, 1) == "(") return {};
  return std::string(signature.substr(0, end));
}

}  // namespace kx::server
