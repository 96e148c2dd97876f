// The crash description a crashed application's handler sends for "createdump", as one record. Field names
// follow the keys of the message (see crash_data_message.h for the wire format).
#pragma once

#include <cstdint>
#include <string>

namespace kx {

// Plain, copyable record. Narrow fields hold the message's bytes (the sender's ANSI code page) unchanged;
// the two file names are already UTF-16. Strings start empty and the numbers at 0.
struct CrashData {
  std::string ProductName;
  std::string ProductVersion;
  std::string ProductBuild;
  std::string ApplicationLocale;  // key "LocaleString"
  std::string StarlumeSessionId;  // falls back to "SolvaneSessionId" when empty
  std::string SolvaneSessionId;
  std::string SolvaneConfigGuid;
  std::string ZanUserGuid;
  std::string KXSource;
  std::string SignalType;
  std::string StackTrace;
  std::string ExceptionInfo;  // Base64 of the crashed thread's x64 EXCEPTION_RECORD
  std::string Context;        // Base64 of the crashed thread's x64 CONTEXT
  std::string SLLogSessionDllStatus;
  std::string CppExceptionType;  // optional: the uncaught C++ exception's type
  std::string CppExceptionWhat;  // optional: its what() text
  std::wstring LogFileName;   // the crash report's file name, no folder
  std::wstring DumpFileName;  // the minidump's base name, no folder and no suffix
  std::uint32_t ThreadId = 0;
  std::uint32_t ProcessId = 0;
};

}  // namespace kx
