#include "support/crash_capture.h"

#include <cstring>

#include "support/test_files.h"

namespace kx::test {

bool WriteCrashCapture(const std::wstring& path, const CrashCapture& capture) {
  WriteFileBytes(path, std::string(reinterpret_cast<const char*>(&capture), sizeof(capture)));
  return ReadFileBytes(path).value_or(std::string()).size() == sizeof(capture);
}

std::optional<CrashCapture> ReadCrashCapture(const std::wstring& path) {
  const std::optional<std::string> bytes = ReadFileBytes(path);
  if (!bytes || bytes->size() != sizeof(CrashCapture)) return std::nullopt;
  CrashCapture capture;
  std::memcpy(&capture, bytes->data(), sizeof(capture));
  if (std::memcmp(capture.magic, kCrashCaptureMagic, sizeof(kCrashCaptureMagic)) != 0) return std::nullopt;
  return capture;
}

CONTEXT CapturedContext(const CrashCapture& capture) {
  CONTEXT context;
  std::memcpy(&context, capture.context, sizeof(context));
  return context;
}

EXCEPTION_RECORD CapturedExceptionRecord(const CrashCapture& capture) {
  EXCEPTION_RECORD record;
  std::memcpy(&record, capture.exceptionRecord, sizeof(record));
  return record;
}

}  // namespace kx::test
