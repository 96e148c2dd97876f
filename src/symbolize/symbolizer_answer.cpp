#include "symbolize/symbolizer_answer.h"

#include <algorithm>
#include <cstdlib>

#include "symbolize/json_reader.h"

namespace kx {
namespace {

std::uint32_t Number(const JsonValue* value) {
  if (value == nullptr || value->kind != JsonValue::Kind::kNumber) return 0;
  const unsigned long long number = std::strtoull(value->text.c_str(), nullptr, 10);
  return number > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(number);
}

std::string Text(const JsonValue* value) {
  return value != nullptr && value->kind == JsonValue::Kind::kString ? value->text : std::string();
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
  const std::optional<JsonValue> json = ReadJson(line);
  if (!json || json->kind != JsonValue::Kind::kObject) return std::nullopt;
  SymbolizerAnswer answer;
  if (const JsonValue* error = json->Member("Error")) {
    answer.error = Text(error->Member("Message"));
    if (answer.error.empty()) answer.error = "unknown";
    return answer;
  }
  const JsonValue* symbols = json->Member("Symbol");
  if (symbols == nullptr || symbols->kind != JsonValue::Kind::kArray) return std::nullopt;
  for (const JsonValue& symbol : symbols->items) {
    if (symbol.kind != JsonValue::Kind::kObject) return std::nullopt;
    answer.frames.push_back(SourceFrame{Text(symbol.Member("FunctionName")), Text(symbol.Member("FileName")),
                                        Number(symbol.Member("Line")), Number(symbol.Member("Column"))});
    answer.functionStart = Address(Text(symbol.Member("StartAddress")));
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
