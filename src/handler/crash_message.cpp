#include "handler/crash_message.h"

#include <cstdio>

#include "common/hex_text.h"

namespace kx {

std::string FormatStackText(const std::vector<StackFrame>& frames) {
  std::string text;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const StackFrame& frame = frames[i];
    text += std::to_string(i);
    text += ' ';
    if (frame.module.empty() || frame.address < frame.moduleBase) {
      text += "??";
    } else {
      text += frame.module;
      text += "+0x";
      AppendHex(text, frame.address - frame.moduleBase, 1, true);
    }
    text += ' ';
    AppendAddress(text, frame.address);
    text += '\n';
  }
  return text;
}

std::string MakeCrashIdentifier(const CrashMoment& moment, unsigned sequence, std::uint32_t random) {
  char text[64];
  std::snprintf(text, sizeof(text), "%04d%02d%02d-%02d%02d%02d-%lu", moment.year, moment.month, moment.day,
                moment.hour, moment.minute, moment.second, static_cast<unsigned long>(moment.processId));
  std::string identifier = text;
  identifier += '-';
  AppendHex(identifier, random, 8, false);
  if (sequence > 1) identifier += "-" + std::to_string(sequence);
  return identifier;
}

}  // namespace kx
