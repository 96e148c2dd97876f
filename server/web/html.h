// The pages' HTML is written through Html, which escapes every text it is given: markup can only be a string
// literal of this program, so a report's, an annotation's, a file name's or a setting's text never becomes
// markup, whichever page shows it. Links to places outside the server pass SafeLink first.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace kx::server::web {

// The text with & < > " ' as character references: safe both between tags and inside a quoted attribute.
std::string Escape(std::string_view text);

// The link when it is an absolute http or https link without blanks, quotes, angle brackets or control
// characters; empty otherwise (a javascript: or data: link is never made a link).
std::string SafeLink(std::string_view url);

// Percent-encoding of a query parameter's value, and the reading of a form body or query string
// (application/x-www-form-urlencoded; a name given twice keeps its first value).
std::string EncodeComponent(std::string_view text);
std::map<std::string, std::string> ReadForm(std::string_view body);

// A page of this server to go to after the login: the path when it is one, "/" for anything that could lead
// elsewhere ("//host", "/\\host", "https://host", control characters).
std::string LocalPath(std::string_view next);

// "2026-12-07 17:41 UTC"; empty for 0.
std::string UtcText(std::int64_t seconds);

class Html {
 public:
  // Markup: string literals only, so no text from outside can be passed as markup by mistake.
  template <std::size_t N>
  Html& operator<<(const char (&markup)[N]) {
    out_.append(markup, N - 1);
    return *this;
  }
  // Any other text is escaped.
  Html& operator<<(const std::string& text) { return Text(text); }
  Html& operator<<(std::int64_t number) { return Text(std::to_string(number)); }
  Html& Text(std::string_view text);

  const std::string& str() const { return out_; }

 private:
  std::string out_;
};

}  // namespace kx::server::web
