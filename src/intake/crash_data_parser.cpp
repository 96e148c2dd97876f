#include "intake/crash_data_parser.h"

#include "common/text_convert.h"
#include "intake/crash_data_message.h"

namespace kx {
namespace {

std::wstring WidenFileName(std::string_view bytes) {
  return WidenFromCodePage(bytes.substr(0, bytes.find('\0')), CP_THREAD_ACP);
}

void LogFields(const CrashData& data, ComponentLog& log) {
  log.Line("Parsed the crash data. The attributes are:");
  log.Line("ProductName: ", AnsiText{data.ProductName});
  log.Line("ProductVersion: ", AnsiText{data.ProductVersion});
  log.Line("ProductBuild: ", AnsiText{data.ProductBuild});
  log.Line("ApplicationLocale: ", AnsiText{data.ApplicationLocale});
  log.Line("StarlumeSessionId: ", AnsiText{data.StarlumeSessionId});
  log.Line("SolvaneSessionId: ", AnsiText{data.SolvaneSessionId});
  log.Line("SolvaneConfigGuid: ", AnsiText{data.SolvaneConfigGuid});
  log.Line("ZANUserGuid: ", AnsiText{data.ZanUserGuid});
  log.Line("LogFileName: ", data.LogFileName);
  log.Line("DumpFileName: ", data.DumpFileName);
  log.Line("StackTrace: ", AnsiText{data.StackTrace});
  log.Line("Context: ", AnsiText{data.Context});
  log.Line("ExceptionInfo: ", AnsiText{data.ExceptionInfo});
  log.Line("KXSource: ", AnsiText{data.KXSource});
  log.Line("SignalType ", AnsiText{data.SignalType});
  log.Line("CppExceptionType: ", AnsiText{data.CppExceptionType});
  log.Line("CppExceptionWhat: ", AnsiText{data.CppExceptionWhat});
  log.Line("Annotations: ", LogNumber{static_cast<std::uint32_t>(data.Annotations.size())}, " ",
           AnsiText{data.AnnotationsNote});
  for (const std::string& path : data.Attachments) log.Line("Attachment: ", AnsiText{path});
  if (data.CrashLoop > 0) log.Line("CrashLoop: ", LogNumber{data.CrashLoop});
  if (data.HeldBackReports > 0) log.Line("HeldBackReports: ", LogNumber{data.HeldBackReports});
  log.Line("ProcessId: ", LogNumber{data.ProcessId});
  log.Line("ThreadId: ", LogNumber{data.ThreadId});
}

}  // namespace

bool ParseCrashData(std::string_view message, CrashData& data, ComponentLog& log) {
  log.Line("Going to parse the crash data received from the pipe.");
  if (!ParseCrashDataMessage(message, &WidenFileName, data)) return false;
  if (log.enabled()) LogFields(data, log);
  return true;
}

}  // namespace kx
