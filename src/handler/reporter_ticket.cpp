#include "handler/reporter_ticket.h"

#include <set>

#include "common/name_piece.h"

namespace kx {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
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

void AppendWide(std::wstring& out, std::uint32_t point) {
  if (sizeof(wchar_t) == 2 && point >= 0x10000) {
    point -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (point >> 10));
    out += static_cast<wchar_t>(0xDC00 + (point & 0x3FF));
  } else {
    out += static_cast<wchar_t>(point);
  }
}

bool IsSurrogate(std::uint32_t point) { return point >= 0xD800 && point <= 0xDFFF; }

// Decodes one UTF-8 sequence at `at`; nothing for an overlong, truncated or out-of-range one.
std::optional<std::uint32_t> NextPoint(const std::string& text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  std::uint32_t point = 0, least = 0;
  if (lead < 0x80) {
    ++at;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, point = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, point = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, point = lead & 0x07, least = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - at < length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return std::nullopt;
    point = (point << 6) | (byte(at + i) & 0x3F);
  }
  if (point < least || point > 0x10FFFF || IsSurrogate(point)) return std::nullopt;
  at += length;
  return point;
}

std::string HexWord(std::uint32_t value) {
  std::string text = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += kHex[(value >> shift) & 0xF];
  return text;
}

std::string Flag(bool value) { return value ? "1" : "0"; }

const char* PolicyWord(TicketPolicy policy) {
  switch (policy) {
    case TicketPolicy::kSend: return "send";
    case TicketPolicy::kAsk: return "ask";
    case TicketPolicy::kDontSend: break;
  }
  return "dontsend";
}

std::string Line(const std::string& key, const std::string& value) {
  return key + "=" + EscapeTicketValue(value) + "\n";
}

std::string WideLine(const std::string& key, const std::wstring& value) {
  // A text that is not UTF-16 cannot be carried; the reader then finds the key empty or missing.
  return Line(key, Utf8FromWide(value).value_or(""));
}

// Decimal or 0x-prefixed hexadecimal, within 32 bits, nothing else.
std::optional<std::uint32_t> ReadNumber(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::size_t start = hex ? 2 : 0;
  if (text.size() == start || text.size() - start > (hex ? 8u : 10u)) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = start; i < text.size(); ++i) {
    const int digit = hex ? HexValue(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0) return std::nullopt;
    value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
  }
  if (value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

std::optional<bool> ReadFlag(const std::string& text) {
  if (text == "1") return true;
  if (text == "0") return false;
  return std::nullopt;
}

std::optional<TicketPolicy> ReadPolicy(const std::string& text) {
  if (text == "send") return TicketPolicy::kSend;
  if (text == "dontsend") return TicketPolicy::kDontSend;
  if (text == "ask") return TicketPolicy::kAsk;
  return std::nullopt;
}

// Applies one known key's value; false when the value is not of the key's form. Unknown keys are skipped.
bool Apply(ReporterTicket& ticket, const std::string& key, const std::string& value) {
  const auto wide = [&](std::wstring& field) {
    std::optional<std::wstring> text = WideFromUtf8(value);
    if (text) field = std::move(*text);
    return text.has_value();
  };
  const auto number = [&](std::uint32_t& field) {
    const std::optional<std::uint32_t> read = ReadNumber(value);
    if (read) field = *read;
    return read.has_value();
  };
  const auto flag = [&](bool& field) {
    const std::optional<bool> read = ReadFlag(value);
    if (read) field = *read;
    return read.has_value();
  };
  if (key == "crash") return wide(ticket.crashIdentifier);
  if (key == "code") return number(ticket.exceptionCode);
  if (key == "kind") return ticket.kind = value, true;
  if (key == "policy") {
    const std::optional<TicketPolicy> policy = ReadPolicy(value);
    if (policy) ticket.policy = *policy;
    return policy.has_value();
  }
  if (key == "service") return wide(ticket.servicePath);
  if (key == "clientDirectory") return wide(ticket.clientDirectory);
  if (key == "reportWritten") return flag(ticket.reportWritten);
  if (key == "guid") return wide(ticket.installationGuid);
  if (key == "productName") return ticket.productName = value, WideFromUtf8(value).has_value();
  if (key == "productVersion") return ticket.productVersion = value, WideFromUtf8(value).has_value();
  if (key == "productBuild") return ticket.productBuild = value, WideFromUtf8(value).has_value();
  if (key == "openSolutionLink") return flag(ticket.openSolutionLink);
  if (key == "checkTransportSignature") return flag(ticket.checkTransportSignature);
  if (key == "createDumpLimitMs") return number(ticket.createDumpLimitMs);
  if (key == "commandLimitMs") return number(ticket.commandLimitMs);
  if (key == "progressLog") return wide(ticket.progressLog);
  if (key == "runHistory") return wide(ticket.runHistory);
  if (key == "signature") return ticket.signature = value, true;
  if (key == "heldBackBefore") return number(ticket.heldBackBefore);
  if (key == "attachment") {
    ticket.attachments.emplace_back();
    return wide(ticket.attachments.back());
  }
  return true;
}

}  // namespace

std::string EscapeTicketValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> UnescapeTicketValue(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 'x': {
        if (text.size() - i < 3) return std::nullopt;
        const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default: return std::nullopt;
    }
  }
  return out;
}

std::string FormatTicket(const ReporterTicket& ticket) {
  std::string text = std::string(kTicketHeader) + "\n";
  text += WideLine("crash", ticket.crashIdentifier);
  text += Line("code", HexWord(ticket.exceptionCode));
  text += Line("kind", ticket.kind);
  text += Line("policy", PolicyWord(ticket.policy));
  text += WideLine("service", ticket.servicePath);
  text += WideLine("clientDirectory", ticket.clientDirectory);
  text += Line("reportWritten", Flag(ticket.reportWritten));
  text += WideLine("guid", ticket.installationGuid);
  text += Line("productName", ticket.productName);
  text += Line("productVersion", ticket.productVersion);
  text += Line("productBuild", ticket.productBuild);
  text += Line("openSolutionLink", Flag(ticket.openSolutionLink));
  text += Line("checkTransportSignature", Flag(ticket.checkTransportSignature));
  text += Line("createDumpLimitMs", std::to_string(ticket.createDumpLimitMs));
  text += Line("commandLimitMs", std::to_string(ticket.commandLimitMs));
  for (const std::wstring& name : ticket.attachments) text += WideLine("attachment", name);
  if (!ticket.progressLog.empty()) text += WideLine("progressLog", ticket.progressLog);
  // Only with a run history, so that tickets without one read as before.
  if (!ticket.runHistory.empty()) {
    text += WideLine("runHistory", ticket.runHistory);
    text += Line("signature", ticket.signature);
    text += Line("heldBackBefore", std::to_string(ticket.heldBackBefore));
  }
  return text;
}

TicketRead ParseTicket(const std::string& bytes) {
  TicketRead read;
  if (bytes.size() > kMaxTicketBytes) return read.error = "the ticket is over 64 KiB", read;
  const std::string header = std::string(kTicketHeader) + "\n";
  if (bytes.compare(0, header.size(), header) != 0) return read.error = "no KXTICKET 1 header", read;
  ReporterTicket ticket;
  std::set<std::string> seen;
  std::size_t at = header.size();
  while (at < bytes.size()) {
    const std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) return read.error = "the last line is not ended", read;
    const std::string line = bytes.substr(at, end - at);
    at = end + 1;
    const std::size_t equals = line.find('=');
    if (equals == 0 || equals == std::string::npos) return read.error = "a line is not key=value", read;
    const std::string key = line.substr(0, equals);
    if (key != "attachment" && !seen.insert(key).second)
      return read.error = "key " + key + " given twice", read;
    const std::optional<std::string> value = UnescapeTicketValue(line.substr(equals + 1));
    if (!value || !Apply(ticket, key, *value))
      return read.error = "the value of " + key + " is malformed", read;
  }
  for (const char* key : {"crash", "code", "kind", "policy", "service", "clientDirectory"}) {
    if (seen.count(key) == 0) return read.error = std::string("no ") + key, read;
  }
  if (ticket.crashIdentifier.empty() || !IsPlainNamePiece(ticket.crashIdentifier))
    return read.error = "the crash identifier is not a plain name", read;
  if (ticket.servicePath.empty()) return read.error = "no service path", read;
  read.ticket = std::move(ticket);
  return read;
}

std::optional<std::string> Utf8FromWide(const std::wstring& wide) {
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

std::optional<std::wstring> WideFromUtf8(const std::string& utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    const std::optional<std::uint32_t> point = NextPoint(utf8, at);
    if (!point) return std::nullopt;
    AppendWide(out, *point);
  }
  return out;
}

}  // namespace kx
