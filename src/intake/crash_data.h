// The crash description a crashed application's handler sends for "createdump", as one record. Field names
// follow the keys of the message (see crash_data_message.h for the wire format).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kx {

// Bounds of the optional fields, the same on both ends: the handler refuses what goes beyond them, and the
// service leaves out what a message brings beyond them. Sizes are bytes.
inline constexpr std::size_t kMaxAnnotations = 64;
inline constexpr std::size_t kMaxAnnotationKeyBytes = 64;
inline constexpr std::size_t kMaxAnnotationValueBytes = 16 * 1024;
inline constexpr std::size_t kMaxAnnotationTotalBytes = 64 * 1024;  // keys and values together
inline constexpr std::size_t kMaxAttachments = 8;
inline constexpr std::uint64_t kMaxAttachmentBytes = 4ull << 20;  // bytes beyond are cut from the copy
inline constexpr std::size_t kMaxCaptureReasonBytes = 1024;

using Annotation = std::pair<std::string, std::string>;  // key, value: any bytes, meant as UTF-8

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
  std::vector<Annotation> Annotations;   // optional: the application's annotations, in the order set
  std::string AnnotationsNote;           // optional: "busy" when the handler could not read them
  std::vector<std::string> Attachments;  // optional: full paths of files to attach, UTF-8
  std::string CaptureReason;             // optional: the reason of a report made without a crash
  // Optional, 0 when absent: the crash-loop guard held (the crashes of the signature within its window): no
  // dump is kept.
  std::uint32_t CrashLoop = 0;
  std::uint32_t HeldBackReports = 0;  // optional: reports of the signature held back before this one
  std::wstring LogFileName;   // the crash report's file name, no folder
  std::wstring DumpFileName;  // the minidump's base name, no folder and no suffix
  std::uint32_t ThreadId = 0;
  std::uint32_t ProcessId = 0;
};

}  // namespace kx
