// The texts a crash handler sends and leaves behind, built without any platform call so that they can be
// tested and fuzzed anywhere: the crash data message for "createdump", the stack text inside it, the crash
// identifier, and the analytics event file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kx {

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
std::string EncodeBase64(const void* bytes, std::size_t size);

// One record value made safe for the message: a NUL would end the message early and a separator would split
// the record, so NULs are dropped and the third hyphen of every "KX---" becomes "_", counting the "KX" that
// ends the field separator before the value ("------KX" would otherwise complete a record separator).
std::string CrashRecordValue(std::string value);

// Records joined as "key" "KX---KX" "value", separated by "KX------KX", each value passed through
// CrashRecordValue. Keys are the handler's own and are not checked. No terminating NUL.
std::string JoinCrashRecords(const std::vector<std::pair<std::string, std::string>>& records);

struct StackFrame {
  std::string module;            // file name of the module holding the address; empty when none does
  std::uint64_t moduleBase = 0;  // its load address
  std::uint64_t address = 0;     // the frame's instruction pointer
};

// One line per frame, "<index> <module>+0x<offset> 0x<address>" (16 hex digits), or "<index> ?? 0x<address>"
// outside any module; each line ends with LF.
std::string FormatStackText(const std::vector<StackFrame>& frames);

struct CrashMoment {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;  // UTC
  std::uint32_t processId = 0;
};

// "YYYYMMDD-HHMMSS-<pid>" for a process's first report, "YYYYMMDD-HHMMSS-<pid>-<sequence>" for its later ones
// (captured reports come before a crash): unique among the reports of one machine (ids are not reused
// within a second), and made only of characters that a pipe name and a file name accept.
std::string MakeCrashIdentifier(const CrashMoment& moment, unsigned sequence = 1);

// "0xC0000005": how exception codes are written in the event and the handler's progress lines.
std::string HexCode(std::uint32_t code);

// The analytics event file of one crash: "key:value" lines ending with LF, in the order given. A line break
// in a value would start a new entry, so CR and LF inside keys or values become blanks.
std::string FormatEventText(const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace kx
