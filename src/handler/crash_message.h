// Texts of a crash the handler puts into the crash data message, built without any platform call so that
// they can be tested and fuzzed anywhere: the stack text and the crash identifier.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kx {

struct StackFrame {
  std::string module;            // file name (UTF-8) of the module holding the address; empty when none does
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

// "YYYYMMDD-HHMMSS-<pid>-<random>" for a process's first report, "YYYYMMDD-HHMMSS-<pid>-<random>-<sequence>"
// for its later ones (captured reports come before a crash), <random> being 8 lowercase hex digits: unique
// among the reports of one machine (ids are not reused within a second), made only of characters that a
// pipe name and a file name accept, and not to be guessed. The crash's pipe is named after it, in a
// namespace every process of the machine shares: a name known ahead could be taken first.
std::string MakeCrashIdentifier(const CrashMoment& moment, unsigned sequence, std::uint32_t random);

}  // namespace kx
