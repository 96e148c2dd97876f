#include "report/xml_text.h"

#include <cstdint>
#include <string>

#include "common/hex_text.h"
#include "common/utf8.h"

namespace kx {
namespace {

enum class Context { kAttribute, kElementText, kGpuValue };

unsigned CodeOf(char c) { return static_cast<unsigned char>(c); }
unsigned CodeOf(wchar_t c) { return static_cast<unsigned>(c) & 0xFFFFu; }

bool NeedsReference(unsigned code, Context context) {
  switch (code) {
    case '&':
    case '<':
    case '>':
    case '"':
    case '\r':
      return true;
    case '\t':
    case '\n':
      return context != Context::kElementText;
    case '\'':
    case '\\':
      return context == Context::kGpuValue;
    default:
      return false;
  }
}

// Characters XML 1.0 does not allow at all, not even as references. U+FFFE and U+FFFF only occur in wide
// text.
bool IsForbidden(unsigned code) {
  if (code == '\t' || code == '\n' || code == '\r') return false;
  return code < 0x20 || code == 0xFFFE || code == 0xFFFF;
}

template <typename Char>
void AppendReference(std::basic_string<Char>& out, unsigned code) {
  const std::string digits = std::to_string(code);
  out.push_back(static_cast<Char>('&'));
  out.push_back(static_cast<Char>('#'));
  for (char digit : digits) out.push_back(static_cast<Char>(digit));
  out.push_back(static_cast<Char>(';'));
}

template <typename Char>
std::basic_string<Char> Escape(std::basic_string_view<Char> text, Context context) {
  std::basic_string<Char> out;
  out.reserve(text.size());
  for (Char c : text) {
    const unsigned code = CodeOf(c);
    if (NeedsReference(code, context)) {
      AppendReference(out, code);
    } else if (IsForbidden(code)) {
      out.push_back(static_cast<Char>('?'));
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool IsHighSurrogate(wchar_t c) {
  const unsigned code = CodeOf(c);
  return code >= 0xD800 && code <= 0xDBFF;
}

void AppendPercent(std::string& out, std::string_view bytes) {
  for (const char c : bytes) {
    out += '%';
    AppendHex(out, static_cast<unsigned char>(c), 2, true);
  }
}

}  // namespace

std::string EscapeReversible(std::string_view bytes, bool attribute) {
  const Context context = attribute ? Context::kAttribute : Context::kElementText;
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned code = CodeOf(bytes[i]);
    if (code < 0x80) {
      if (code == '%' || IsForbidden(code)) {
        AppendPercent(out, bytes.substr(i, 1));
      } else if (NeedsReference(code, context)) {
        AppendReference(out, code);
      } else {
        out.push_back(bytes[i]);
      }
      ++i;
      continue;
    }
    std::size_t length = 0;
    const std::uint32_t point = DecodeUtf8Point(bytes.substr(i), length);
    if (length == 0) {
      AppendPercent(out, bytes.substr(i, 1));
      ++i;
    } else {
      if (IsForbidden(point)) {
        AppendPercent(out, bytes.substr(i, length));
      } else {
        AppendReference(out, point);
      }
      i += length;
    }
  }
  return out;
}

std::string EscapeXmlAttribute(std::string_view text) { return Escape(text, Context::kAttribute); }
std::wstring EscapeXmlAttribute(std::wstring_view text) { return Escape(text, Context::kAttribute); }

void AppendXmlAttribute(std::string& line, std::string_view name, std::string_view value) {
  line += ' ';
  line += name;
  line += "=\"";
  line += EscapeXmlAttribute(value);
  line += '"';
}

std::string EscapeXmlElementText(std::string_view text) { return Escape(text, Context::kElementText); }
std::wstring EscapeXmlElementText(std::wstring_view text) { return Escape(text, Context::kElementText); }

void EscapeXmlText(std::wstring& text) {
  if (text.empty()) return;
  text = Escape(std::wstring_view(text), Context::kGpuValue);
}

void CutEscapedText(std::wstring& text, std::size_t limit) {
  if (text.size() <= limit) return;
  std::size_t cut = limit;
  if (cut > 0) {
    // In escaped text every "&" opens a reference and the next ";" closes it.
    const std::size_t ampersand = text.rfind(L'&', cut - 1);
    if (ampersand != std::wstring::npos && text.find(L';', ampersand) >= cut) cut = ampersand;
  }
  if (cut > 0 && IsHighSurrogate(text[cut - 1])) --cut;
  text.resize(cut);
}

std::string AsciiWithCharacterReferences(std::wstring_view document) {
  std::string ascii;
  ascii.reserve(document.size());
  for (size_t i = 0; i < document.size(); ++i) {
    const auto unit = static_cast<std::uint32_t>(document[i]);
    if (unit < 0x80) {
      ascii.push_back(static_cast<char>(unit));
      continue;
    }
    std::uint32_t codePoint = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < document.size()) {
      const auto next = static_cast<std::uint32_t>(document[i + 1]);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        codePoint = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
        ++i;
      }
    }
    // Lone surrogates and U+FFFE/U+FFFF are not XML characters, not even as references.
    if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint == 0xFFFE || codePoint == 0xFFFF) {
      ascii.push_back('?');
      continue;
    }
    ascii += "&#" + std::to_string(codePoint) + ";";
  }
  return ascii;
}

}  // namespace kx
