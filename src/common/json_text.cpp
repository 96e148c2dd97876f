#include "common/json_text.h"

namespace kx {
namespace {

void AppendUnicodeEscape(std::string& out, unsigned int unit) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kDigits[(unit >> shift) & 0xF]);
}

}  // namespace

std::string EscapeJsonString(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (const wchar_t c : text) {
    const auto unit = static_cast<unsigned int>(c);
    switch (unit) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (unit < 0x20 || unit > 0x7E) {
          AppendUnicodeEscape(out, unit);
        } else {
          out.push_back(static_cast<char>(unit));
        }
    }
  }
  return out;
}

std::string EscapeNarrowJsonString(std::string_view narrow, TextWidener widen) {
  return EscapeJsonString(narrow.empty() ? std::wstring() : widen(narrow));
}

}  // namespace kx
