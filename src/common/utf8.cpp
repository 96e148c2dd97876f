#include "common/utf8.h"

namespace kx {
namespace {

bool IsSurrogate(std::uint32_t point) { return point >= 0xD800 && point <= 0xDFFF; }

void AppendWide(std::wstring& out, std::uint32_t point) {
  if (sizeof(wchar_t) == 2 && point >= 0x10000) {
    point -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (point >> 10));
    out += static_cast<wchar_t>(0xDC00 + (point & 0x3FF));
  } else {
    out += static_cast<wchar_t>(point);
  }
}

}  // namespace

std::uint32_t DecodeUtf8Point(std::string_view bytes, std::size_t& length) {
  length = 0;
  if (bytes.empty()) return 0;
  const auto lead = static_cast<unsigned char>(bytes[0]);
  std::size_t count = 0;
  std::uint32_t point = 0;
  std::uint32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    count = 2, point = lead & 0x1Fu, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    count = 3, point = lead & 0x0Fu, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    count = 4, point = lead & 0x07u, least = 0x10000;
  } else {
    return 0;
  }
  if (bytes.size() < count) return 0;
  for (std::size_t i = 1; i < count; ++i) {
    const auto next = static_cast<unsigned char>(bytes[i]);
    if ((next & 0xC0u) != 0x80u) return 0;
    point = (point << 6) | (next & 0x3Fu);
  }
  if (point < least || point > 0x10FFFF || IsSurrogate(point)) return 0;
  length = count;
  return point;
}

void AppendUtf8(std::string& out, std::uint32_t point) {
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | (point >> 6));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    out += static_cast<char>(0xE0 | (point >> 12));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (point >> 18));
    out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
}

std::string Utf8Within(std::string_view text, std::size_t maxBytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 1;
    std::string_view piece = text.substr(at, 1);
    if (static_cast<unsigned char>(text[at]) >= 0x80) {
      DecodeUtf8Point(text.substr(at), length);
      piece = length == 0 ? kReplacement : text.substr(at, length);
      length = length == 0 ? 1 : length;
    }
    if (out.size() + piece.size() > maxBytes) break;
    out += piece;
    at += length;
  }
  return out;
}

std::optional<std::string> Utf8FromWide(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    std::uint32_t point = static_cast<std::uint32_t>(wide[i]);
    if (sizeof(wchar_t) == 2 && point >= 0xD800 && point <= 0xDBFF && i + 1 < wide.size()) {
      const auto low = static_cast<std::uint32_t>(wide[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (IsSurrogate(point) || point > 0x10FFFF) return std::nullopt;
    AppendUtf8(out, point);
  }
  return out;
}

std::optional<std::wstring> WideFromUtf8(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    const auto byte = static_cast<unsigned char>(utf8[at]);
    if (byte < 0x80) {
      out += static_cast<wchar_t>(byte);
      ++at;
      continue;
    }
    std::size_t length = 0;
    const std::uint32_t point = DecodeUtf8Point(utf8.substr(at), length);
    if (length == 0) return std::nullopt;
    AppendWide(out, point);
    at += length;
  }
  return out;
}

}  // namespace kx
