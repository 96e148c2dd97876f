// The lines of the XML crash report document, one formatter per line kind. The crash log generator calls them
// in document order:
//
//   <?xml ...?>, <!DOCTYPE ...>, crashreport start tag, time, user, system (system_info.h), <gpu>,
//   gpuinfo lines (gpu_info.h), </gpu>, crash start tag, <backtrace ...>, thread element, </backtrace>,
//   <registerSet>, twelve register lines, </registerSet> and an empty line, <binaryImageSet>, binaryImage
//   lines (module_list.h), </binaryImageSet>, dumpType element, slLogSessionDllStatus element, cppException
//   element (only when the crash data named a C++ exception's type), captured element (only for a report
//   made without a crash), annotations element (only when the crash data had annotations or a note about
//   them), attachments element (only when it named files to attach), </crash> and
//   an empty line, the sessionId, solvaneConfigGuid and zanUserGuid elements (each only when its text is
//   not empty), </crashreport> without a line end.
//
// Every line ends with "\n" (the report file is written in text mode, so it is stored as CR LF). Every value
// is escaped (xml_text.h). Lines that hold only ASCII are built narrow; lines with machine text in UTF-16
// (gpuinfo, binaryImage) are built wide and converted with the thread's ANSI code page by the caller.
// The document format is described for server authors in docs/crash-report-format.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kx {

// The service's own build version, written as both serviceVersion and clientVersion.
inline constexpr char kServiceVersion[] = "12.0.0.202304060538_39d0b25";

inline constexpr char kXmlPrologLine[] = "<?xml version=\"1.0\"?>\n";
inline constexpr char kDocTypeLine[] = "<!DOCTYPE OrvanCrashReport SYSTEM \"OrvanKestrix.dtd\">\n";
inline constexpr char kGpuStartLine[] = "<gpu>\n";
inline constexpr char kGpuEndLine[] = "</gpu>\n";
inline constexpr char kBacktraceStartLine[] = "<backtrace crashedThread=\"0\">\n";
inline constexpr char kBacktraceEndLine[] = "</backtrace>\n";
inline constexpr char kRegisterSetStartLine[] = "<registerSet>\n";
inline constexpr char kRegisterSetEndLines[] = "</registerSet>\n\n";
inline constexpr char kBinaryImageSetStartLine[] = "<binaryImageSet>\n";
inline constexpr char kBinaryImageSetEndLine[] = "</binaryImageSet>\n";
inline constexpr char kCrashEndLines[] = "</crash>\n\n";
inline constexpr char kCrashReportEnd[] = "</crashreport>";

// What the crashreport start tag says about the crashed product.
struct CrashReportHeader {
  std::string serviceVersion = kServiceVersion;
  std::string clientVersion = kServiceVersion;
  std::string applicationName;
  std::string applicationVersion;
  std::string build;
  std::string source;
  std::string crashType;  // the crashType attribute is written only when this is not empty
};

std::string FormatCrashReportTag(const CrashReportHeader& header);

// Local wall-clock time, as people read it: full year, month 1-12, day 1-31, hour 0-23.
struct LocalTimeParts {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The time element. offsetMinutes is positive east of UTC. Without a time, all eight attributes are empty.
std::string FormatTimeTag(const std::optional<LocalTimeParts>& time, std::int32_t offsetMinutes,
                          std::string_view zoneName);

// The user element; the GUID is the second "_"-separated field of the report's file name (narrow).
std::string FormatUserTag(std::string_view logFileName);

// Lower-case hexadecimal digits without prefix or padding: "c0000005", "0".
std::string FormatExceptionCode(std::uint32_t code);

// The crash start tag: exception name (ReportExceptionName, common/exception_names.h), code and the exception
// address.
std::string FormatCrashTag(std::uint32_t exceptionCode, std::uint64_t exceptionAddress);

// The thread element: start tag line, the stack text as received (escaped) and "</thread>" right after it.
std::string FormatThreadElement(std::string_view stackText);

// The registers of the crashed thread that the report shows.
struct RegisterValues {
  std::uint64_t rax = 0;
  std::uint64_t rbx = 0;
  std::uint64_t rcx = 0;
  std::uint64_t rdx = 0;
  std::uint64_t rsi = 0;
  std::uint64_t rdi = 0;
  std::uint64_t rsp = 0;
  std::uint64_t rbp = 0;
  std::uint64_t rip = 0;
  std::uint32_t eflags = 0;
  std::uint64_t lastExceptionToRip = 0;
  std::uint64_t lastExceptionFromRip = 0;
};

// Appends one register line: the value as "0x" and 16 upper-case hexadecimal digits.
void AppendRegisterTag(std::string& collector, std::string_view name, std::uint64_t value);

// Appends the twelve register lines in report order, RAX first.
void AppendRegisterTags(std::string& collector, const RegisterValues& registers);

// "Mini", "Full" or "Triage" for dump preference 0, 1 or 2; empty for any other preference.
std::string_view DumpTypeName(int dumpPreference);

// An element whose text stands on its own line: "<name>\n", the escaped text, "\n</name>\n". Used for
// dumpType, slLogSessionDllStatus, sessionId, solvaneConfigGuid and zanUserGuid.
std::string FormatTextElement(std::string_view name, std::string_view text);

// Longest C++ exception type and text a report carries, in bytes of the crash data; the crash handler
// sends no more.
inline constexpr std::size_t kMaxCppExceptionText = 1024;

// The uncaught C++ exception: '<cppException type="...">', its what() text on a line of its own (empty
// when it has none), "</cppException>". Both values escaped.
std::string FormatCppExceptionElement(std::string_view type, std::string_view what);

// A report made without a crash: '<captured reason="..."/>', the reason in the reversible form.
std::string FormatCapturedElement(std::string_view reason);

// The crash-loop guard held: '<crashLoop crashes="N" dump="none"/>', N the crashes of the signature within
// the guard's window, this one included; the report was written without a dump.
std::string FormatCrashLoopElement(std::uint32_t crashes);

// '<heldBack reports="N"/>': N reports of this crash's signature were held back (not sent) by the throttle
// since the last one that was sent.
std::string FormatHeldBackElement(std::uint32_t reports);

// "<annotations>" (with note="..." when there is a note), one line per annotation,
// '<annotation key="...">value</annotation>', in the order given, then "</annotations>". Keys and values in
// the reversible form (xml_text.h), the value right between its tags.
std::string FormatAnnotationsElement(const std::vector<std::pair<std::string, std::string>>& annotations,
                                     std::string_view note);

// What became of one file to attach. name: the file's own name (no folder), UTF-8.
struct AttachmentOutcome {
  std::string name;
  std::string state;               // "copied", "cut", "not-found", "unreadable", "linked", "skipped"
  std::string file;                // the copy's name beside the report; empty when there is none
  std::uint64_t size = 0;          // bytes in the copy
  std::uint64_t originalSize = 0;  // for "cut": the file's size
};

// "<attachments>", one '<attachment name="..." state="..." file="..." size="..." originalSize="..."/>' line
// per file (file and size only with a copy, originalSize only when cut), "</attachments>".
std::string FormatAttachmentsElement(const std::vector<AttachmentOutcome>& attachments);

}  // namespace kx
