#include "frontend/reporter_ticket.h"

#include <set>

#include "common/hex_text.h"
#include "common/name_piece.h"
#include "common/utf8.h"

namespace kx {
namespace {

std::string Flag(bool value) { return value ? "1" : "0"; }

const char* PolicyWord(ReportPolicy policy) {
  switch (policy) {
    case ReportPolicy::kSend: return "send";
    case ReportPolicy::kAsk: return "ask";
    case ReportPolicy::kDontSend: break;
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
    const int digit = hex ? HexDigitValue(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
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

std::optional<ReportPolicy> ReadPolicy(const std::string& text) {
  if (text == "send") return ReportPolicy::kSend;
  if (text == "dontsend") return ReportPolicy::kDontSend;
  if (text == "ask") return ReportPolicy::kAsk;
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
    const std::optional<ReportPolicy> policy = ReadPolicy(value);
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
      AppendHex(out, byte, 2, true);
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
        const int high = HexDigitValue(text[i + 1]), low = HexDigitValue(text[i + 2]);
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
  text += Line("code", HexCode(ticket.exceptionCode));
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

}  // namespace kx
