// What the crashing front end knew of its own crash, handed to the tests that check the service's report and
// dump against it. crashing_front_end writes it once, after the service has ended, as one binary file of
// exactly sizeof(CrashCapture) = 1416 bytes, little-endian, no padding:
//
//   offset  size  field
//        0     8  magic "KXCAPT01"
//        8     4  processId         the front end's own process
//       12     4  threadId          the crashed (or, for thread-exits, the ended) thread
//       16     8  imageBase         load address of crashing_front_end.exe
//       24     4  imageSize         SizeOfImage of crashing_front_end.exe, as loaded
//       28     4  reserved          zero
//       32  1232  context           the CONTEXT the unhandled-exception filter received, raw
//     1264   152  exceptionRecord   the EXCEPTION_RECORD it received, raw
//
// The two raw structures are the bytes the crash data message carries in Base64.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace kx::test {

inline constexpr char kCrashCaptureMagic[8] = {'K', 'X', 'C', 'A', 'P', 'T', '0', '1'};

struct CrashCapture {
  char magic[8] = {};
  std::uint32_t processId = 0;
  std::uint32_t threadId = 0;
  std::uint64_t imageBase = 0;
  std::uint32_t imageSize = 0;
  std::uint32_t reserved = 0;
  unsigned char context[sizeof(CONTEXT)] = {};
  unsigned char exceptionRecord[sizeof(EXCEPTION_RECORD)] = {};
};

static_assert(sizeof(CONTEXT) == 1232 && sizeof(EXCEPTION_RECORD) == 152, "the x64 layouts");
static_assert(sizeof(CrashCapture) == 1416, "the file is the structure, without padding");

bool WriteCrashCapture(const std::wstring& path, const CrashCapture& capture);
// Nothing when the file is missing, of another size, or lacks the magic.
std::optional<CrashCapture> ReadCrashCapture(const std::wstring& path);

// Aligned copies of the raw structures.
CONTEXT CapturedContext(const CrashCapture& capture);
EXCEPTION_RECORD CapturedExceptionRecord(const CrashCapture& capture);

}  // namespace kx::test
