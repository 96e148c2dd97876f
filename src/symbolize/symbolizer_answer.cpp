#include "symbolize/symbolizer_answer.h"

#include <algorithm>
#include <cstdlib>

#include <nlohmann/json.hpp>

namespace kx {
namespace {

using Json = nlohmann::json;

std::uint32_t Number(const Json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_number_unsigned()) return 0;
  const std::uint64_t number = found->get<std::uint64_t>();
  return number > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(number);
}

std::string Text(const Json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// "0x140001530" as a number; nothing for any other text (the symbolizer writes "" when it has none).
std::optional<std::uint64_t> Address(const std::string& text) {
  if (text.size() < 3 || text.size() > 18 || text.compare(0, 2, "0x") != 0 ||
      text.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) {
    return std::nullopt;
  }
  return std::strtoull(text.c_str() + 2, nullptr, 16);
}

bool Unknown(const std::string& function) { return function.empty() || function == "??"; }

}  // namespace

std::optional<SymbolizerAnswer> ParseSymbolizerAnswer(std::string_view line) {
  // No exceptions: an answer that is not JSON is as good as none, and a child process that prints nonsense
  // must not take its parent down.
  const Json json = Json::parse(line.begin(), line.end(), nullptr, /*allow_exceptions=*/false);
  if (!json.is_object()) return std::nullopt;
  SymbolizerAnswer answer;
  if (const auto error = json.find("Error"); error != json.end()) {
    if (error->is_object()) answer.error = Text(*error, "Message");
    if (answer.error.empty()) answer.error = "unknown";
    return answer;
  }
  const auto symbols = json.find("Symbol");
  if (symbols == json.end() || !symbols->is_array()) return std::nullopt;
  for (const Json& symbol : *symbols) {
    if (!symbol.is_object()) return std::nullopt;
    answer.frames.push_back(SourceFrame{Text(symbol, "FunctionName"), Text(symbol, "FileName"),
                                        Number(symbol, "Line"), Number(symbol, "Column")});
    answer.functionStart = Address(Text(symbol, "StartAddress"));
  }
  return answer;
}

std::vector<SourceFrame> TrustedFrames(const SymbolizerAnswer& answer, const PeImage& image,
                                       std::uint32_t rva) {
  if (answer.frames.empty() || Unknown(answer.frames.front().function)) return {};
  const bool placed = std::any_of(answer.frames.begin(), answer.frames.end(), [](const SourceFrame& frame) {
    return !frame.file.empty() && frame.line != 0;
  });
  if (placed) return answer.frames;
  if (!answer.functionStart || *answer.functionStart < image.imageBase()) return {};
  const std::uint64_t start = *answer.functionStart - image.imageBase();
  // Code in a function of the table: the symbol must be that function's. Code outside the table (a stack
  // probe or other hand-written assembly without unwind information): the symbol must come before it with no
  // function of the table between the two.
  if (const std::optional<RuntimeFunction> function = image.FunctionAt(rva)) {
    return start == function->begin ? answer.frames : std::vector<SourceFrame>();
  }
  if (start > rva) return {};
  const std::optional<RuntimeFunction> next = image.FunctionFrom(static_cast<std::uint32_t>(start));
  return !next || next->begin > rva ? answer.frames : std::vector<SourceFrame>();
}

}  // namespace kx
