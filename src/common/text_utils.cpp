#include "common/text_utils.h"

#include <algorithm>

namespace kx {

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::optional<std::int64_t> ReadLeadingInteger(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && IsCSpace(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  constexpr std::int64_t kSaturated = std::int64_t{1} << 32;
  std::int64_t magnitude = 0;
  const size_t firstDigit = at;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    if (magnitude < kSaturated) magnitude = std::min(kSaturated, magnitude * 10 + (text[at] - '0'));
  }
  if (at == firstDigit) return std::nullopt;
  return negative ? -magnitude : magnitude;
}

std::string NarrowByTruncation(std::wstring_view wide) {
  std::string narrow(wide.size(), '\0');
  for (size_t i = 0; i < wide.size(); ++i) narrow[i] = static_cast<char>(static_cast<unsigned>(wide[i]) & 0xFF);
  return narrow;
}

std::string TrimText(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsCSpace(text[begin])) ++begin;
  while (end > begin && IsCSpace(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

void SplitText(std::string_view text, std::string_view delimiter, std::vector<std::string>& pieces) {
  if (!delimiter.empty()) {
    for (size_t found = text.find(delimiter); found != std::string_view::npos; found = text.find(delimiter)) {
      pieces.emplace_back(text.substr(0, found));
      text.remove_prefix(found + delimiter.size());
    }
  }
  if (!text.empty()) pieces.emplace_back(text);
}

}  // namespace kx
