#include "web/html.h"

#include <ctime>

namespace kx::server::web {

std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string SafeLink(std::string_view url) {
  const auto starts = [&](std::string_view scheme) {
    if (url.size() <= scheme.size()) return false;
    for (std::size_t at = 0; at < scheme.size(); ++at) {
      if ((url[at] | 0x20) != scheme[at]) return false;
    }
    return true;
  };
  if (!starts("https://") && !starts("http://")) return {};
  for (const char c : url) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || c == '"' || c == '\'' || c == '<' || c == '>' || c == '`' || c == '\\')
      return {};
  }
  return std::string(url);
}

std::string EncodeComponent(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte >= '0' && byte <= '9') || ((byte | 0x20) >= 'a' && (byte | 0x20) <= 'z') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
  return -1;
}

std::string Decode(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '+') {
      out += ' ';
    } else if (text[at] == '%' && at + 2 < text.size() && HexValue(text[at + 1]) >= 0 &&
               HexValue(text[at + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[at + 1]) * 16 + HexValue(text[at + 2]));
      at += 2;
    } else {
      out += text[at];
    }
  }
  return out;
}

}  // namespace

std::map<std::string, std::string> ReadForm(std::string_view body) {
  std::map<std::string, std::string> form;
  while (!body.empty()) {
    const std::size_t end = body.find('&');
    const std::string_view pair = body.substr(0, end);
    const std::size_t equals = pair.find('=');
    form.emplace(Decode(pair.substr(0, equals)),
                 equals == std::string_view::npos ? std::string() : Decode(pair.substr(equals + 1)));
    body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
  }
  return form;
}

std::string LocalPath(std::string_view next) {
  if (next.empty() || next[0] != '/' || (next.size() > 1 && (next[1] == '/' || next[1] == '\\'))) return "/";
  for (const char c : next) {
    if (static_cast<unsigned char>(c) < 0x21 || c == 0x7F) return "/";
  }
  return std::string(next);
}

std::string UtcText(std::int64_t seconds) {
  if (seconds == 0) return {};
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  ::gmtime_r(&time, &utc);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M UTC", &utc);
  return text;
}

Html& Html::Text(std::string_view text) {
  out_ += Escape(text);
  return *this;
}

}  // namespace kx::server::web
