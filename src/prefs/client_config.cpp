#include "prefs/client_config.h"

#include <algorithm>
#include <utility>

#include "common/ascii_text.h"
#include "common/text_utils.h"

namespace kx {
namespace {

constexpr std::uint16_t kUnusablePort = 0;

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The next token at "=" separators, or an empty view when there is none left.
std::string_view NextToken(std::string_view& rest) {
  const size_t begin = rest.find_first_not_of('=');
  if (begin == std::string_view::npos) {
    rest = {};
    return {};
  }
  rest.remove_prefix(begin);
  const size_t end = rest.find('=');
  const std::string_view token = rest.substr(0, end);
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  return token;
}

void AddLine(std::string_view line, ClientConfig& config) {
  // The line is handled as a C string: a zero byte ends it.
  line = line.substr(0, line.find('\0'));
  std::string key;
  bool keyPosition = true;
  for (std::string_view token = NextToken(line); !token.empty(); token = NextToken(line)) {
    std::string trimmed = trimText(token);
    if (trimmed.empty()) return;
    if (keyPosition) {
      key = std::move(trimmed);
    } else {
      LowerAsciiInPlace(key);
      config[key] = std::move(trimmed);
    }
    keyPosition = !keyPosition;
  }
}

}  // namespace

void ClientConfigReader::Feed(std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    line_.append(bytes.substr(0, std::min(end, kClientConfigLineLimit - line_.size())));
    if (end == std::string_view::npos) return;
    EndLine();
    bytes.remove_prefix(end + 1);
  }
}

ClientConfig ClientConfigReader::Finish() {
  if (!line_.empty()) EndLine();
  return std::move(config_);
}

void ClientConfigReader::EndLine() {
  AddLine(line_, config_);
  line_.clear();
}

ClientConfig ParseClientConfig(std::string_view bytes) {
  ClientConfigReader reader;
  reader.Feed(bytes);
  return reader.Finish();
}

std::uint16_t ConfiguredPort(const ClientConfig& config, std::string_view key) {
  const auto found = config.find(std::string(key));
  if (found == config.end() || found->second.empty()) return kDefaultServerPort;

  std::string_view text = found->second;
  while (!text.empty() && IsCSpace(text.front())) text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Accumulates only while in range, so no width of int can overflow.
  std::uint32_t value = 0;
  bool inRange = true;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > 0xFFFF) {
      inRange = false;
      break;
    }
  }
  if (!inRange || (negative && value != 0)) return kUnusablePort;
  return static_cast<std::uint16_t>(value);
}

}  // namespace kx
