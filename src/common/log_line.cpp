#include "common/log_line.h"

#include "common/hex_text.h"

namespace kx {

void AppendLogPiece(std::string& line, std::string_view narrow) { line.append(narrow); }

void AppendLogPiece(std::string& line, std::wstring_view wide) {
  line.reserve(line.size() + wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    const auto code = static_cast<std::uint32_t>(wide[i]);
    if (code <= 0xFF) {
      line.push_back(static_cast<char>(code));
      continue;
    }
    line.push_back('?');
    const bool highSurrogate = code >= 0xD800 && code <= 0xDBFF;
    if (highSurrogate && i + 1 < wide.size()) {
      const auto next = static_cast<std::uint32_t>(wide[i + 1]);
      if (next >= 0xDC00 && next <= 0xDFFF) ++i;
    }
  }
}

void AppendLogPiece(std::string& line, LogNumber number) { line.append(std::to_string(number.value)); }

void AppendLogPiece(std::string& line, LogInteger number) { line.append(std::to_string(number.value)); }

void AppendLogPiece(std::string& line, LogFlag flag) { line.push_back(flag.value ? '1' : '0'); }

void AppendLogPiece(std::string& line, LogHandle handle) { AppendHex(line, handle.value, 16, true); }

}  // namespace kx
