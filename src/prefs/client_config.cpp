#include "prefs/client_config.h"

#include <algorithm>
#include <utility>

#include "common/ascii_text.h"
#include "common/text_utils.h"

namespace kx {
namespace {

constexpr std::uint16_t kUnusablePort = 0;

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
    std::string trimmed = TrimText(token);
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

  // Like atoi: no number at all reads as 0. A port outside 0..65535 is unusable rather than wrapped into
  // some other port.
  const std::int64_t value = ReadLeadingInteger(found->second).value_or(0);
  if (value < 0 || value > 0xFFFF) return kUnusablePort;
  return static_cast<std::uint16_t>(value);
}

}  // namespace kx
