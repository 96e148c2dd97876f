#include "handler/crash_message.h"

#include <cstdio>

namespace kx {

std::string EncodeBase64(const void* bytes, std::size_t size) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto* in = static_cast<const unsigned char*>(bytes);
  std::string text;
  text.reserve((size + 2) / 3 * 4);
  for (std::size_t i = 0; i < size; i += 3) {
    const std::size_t left = size - i;
    const std::uint32_t group = (std::uint32_t{in[i]} << 16) |
                                (left > 1 ? std::uint32_t{in[i + 1]} << 8 : 0u) |
                                (left > 2 ? std::uint32_t{in[i + 2]} : 0u);
    text.push_back(kAlphabet[(group >> 18) & 63]);
    text.push_back(kAlphabet[(group >> 12) & 63]);
    text.push_back(left > 1 ? kAlphabet[(group >> 6) & 63] : '=');
    text.push_back(left > 2 ? kAlphabet[group & 63] : '=');
  }
  return text;
}

std::string CrashRecordValue(std::string value) {
  // The value follows the field separator, whose "KX" would complete a "KX---" at the value's start.
  std::string safe = "KX";
  safe.reserve(value.size() + 2);
  for (char c : value) {
    if (c == '\0') continue;
    safe.push_back(c);
    // The separators both begin with "KX---": no value may hold that sequence.
    const std::size_t n = safe.size();
    if (n >= 5 && safe.compare(n - 5, 5, "KX---") == 0) safe[n - 1] = '_';
  }
  return safe.substr(2);
}

std::string JoinCrashRecords(const std::vector<std::pair<std::string, std::string>>& records) {
  std::string message;
  for (const auto& [key, value] : records) {
    if (!message.empty()) message += "KX------KX";
    message += key;
    message += "KX---KX";
    message += CrashRecordValue(value);
  }
  return message;
}

std::string FormatStackText(const std::vector<StackFrame>& frames) {
  std::string text;
  char line[96];
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const StackFrame& frame = frames[i];
    text += std::to_string(i);
    text += ' ';
    if (frame.module.empty() || frame.address < frame.moduleBase) {
      text += "??";
    } else {
      text += frame.module;
      std::snprintf(line, sizeof(line), "+0x%llX",
                    static_cast<unsigned long long>(frame.address - frame.moduleBase));
      text += line;
    }
    std::snprintf(line, sizeof(line), " 0x%016llX\n", static_cast<unsigned long long>(frame.address));
    text += line;
  }
  return text;
}

std::string MakeCrashIdentifier(const CrashMoment& moment, unsigned sequence) {
  char text[64];
  std::snprintf(text, sizeof(text), "%04d%02d%02d-%02d%02d%02d-%lu", moment.year, moment.month, moment.day,
                moment.hour, moment.minute, moment.second, static_cast<unsigned long>(moment.processId));
  if (sequence <= 1) return text;
  return text + ("-" + std::to_string(sequence));
}

std::string HexCode(std::uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

std::string FormatEventText(const std::vector<std::pair<std::string, std::string>>& entries) {
  const auto oneLine = [](std::string text) {
    for (char& c : text) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    return text;
  };
  std::string text;
  for (const auto& [key, value] : entries) text += oneLine(key) + ':' + oneLine(value) + '\n';
  return text;
}

}  // namespace kx
