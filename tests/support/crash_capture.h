// What the crashing front end knew of its own crash, handed to the tests that check the service's report and
// dump against it: crashing_front_end writes the structure as it is, after the service has ended, and the
// tests read it back. The raw CONTEXT and EXCEPTION_RECORD are the bytes the crash data message carries.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "support/test_files.h"

namespace kx::test {

struct CrashCapture {
  std::uint32_t processId = 0;  // the front end's own process
  std::uint32_t threadId = 0;   // the crashed thread
  std::uint64_t imageBase = 0;  // crashing_front_end.exe as loaded
  std::uint32_t imageSize = 0;
  std::uint32_t reserved = 0;
  CONTEXT context = {};  // as the unhandled-exception filter received them
  EXCEPTION_RECORD exceptionRecord = {};
};

inline bool WriteCrashCapture(const std::wstring& path, const CrashCapture& capture) {
  WriteFileBytes(path, std::string(reinterpret_cast<const char*>(&capture), sizeof(capture)));
  return ReadFileBytes(path).value_or("").size() == sizeof(capture);
}

// Nothing when the file is missing or of another size (the front end wrote none, or not all of it).
inline std::optional<CrashCapture> ReadCrashCapture(const std::wstring& path) {
  const std::optional<std::string> bytes = ReadFileBytes(path);
  CrashCapture capture;
  if (!bytes || bytes->size() != sizeof(capture)) return std::nullopt;
  std::memcpy(&capture, bytes->data(), sizeof(capture));
  return capture;
}

}  // namespace kx::test
