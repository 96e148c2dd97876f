#include "common/diagnostic_log.h"

#include <shlwapi.h>
#include <share.h>

#include <cstdio>

#include "common/storage_paths.h"
#include "common/text_convert.h"

namespace kx {

bool IsLoggingSwitchOn() {
  const std::wstring folder = StoragePaths::LogFolder();
  if (folder.empty()) return false;
  const std::wstring switchPath = folder + L"\\generatekxlogornot.txt";
  return ::PathFileExistsW(switchPath.c_str()) != FALSE;
}

std::wstring LogFilePath(std::wstring_view fileName) {
  std::wstring path = StoragePaths::LogFolder();
  if (path.empty()) return path;
  path += L'\\';
  path.append(fileName);
  return path;
}

const wchar_t* LogFileName(LogComponent component) {
  switch (component) {
    case LogComponent::DumpRequestProcessor: return L"DumpRequestProcessor.txt";
    case LogComponent::KXLogGenerator: return L"KXLogGeneratorlog.txt";
    case LogComponent::NamedPipe: return L"NamedPipe.txt";
    case LogComponent::SolutionURL: return L"SolutionURL.txt";
    case LogComponent::LogTransportProcessor: return L"LogTransportProcessor.txt";
    case LogComponent::SignatureVerifierUtils: return L"SignatureVerifierUtils.txt";
    case LogComponent::InitialDataSyncProcessor: return L"InitialDataSyncProcessor.txt";
    case LogComponent::IngestProcessor: return L"IngestProcessor.txt";
    case LogComponent::KXLogTransport: return L"KXLogTransport.txt";
  }
  return L"";
}

void AppendLogPiece(std::string& line, AnsiText ansi) {
  AppendLogPiece(line, WidenFromCodePage(ansi.text, CP_ACP));
}

void LogStream::Open(bool append) {
  file_.reset();
  failed_ = false;
  const std::wstring path = LogFilePath(fileName_);
  if (!path.empty()) file_.reset(::_wfsopen(path.c_str(), append ? L"a" : L"w", _SH_DENYNO));
  failed_ = !file_;
}

void LogStream::Close() {
  if (!file_) return;
  if (std::fclose(file_.release()) != 0) failed_ = true;
}

void LogStream::WriteBytes(const std::string& bytes) {
  FILE* file = file_.get();
  if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fflush(file) != 0) {
    failed_ = true;
  }
}

LogStream& ComponentLogStream(LogComponent component) {
  static LogStream streams[] = {
      LogStream(LogFileName(LogComponent::DumpRequestProcessor)),
      LogStream(LogFileName(LogComponent::KXLogGenerator)),
      LogStream(LogFileName(LogComponent::NamedPipe)),
      LogStream(LogFileName(LogComponent::SolutionURL)),
      LogStream(LogFileName(LogComponent::LogTransportProcessor)),
      LogStream(LogFileName(LogComponent::SignatureVerifierUtils)),
      LogStream(LogFileName(LogComponent::InitialDataSyncProcessor)),
      LogStream(LogFileName(LogComponent::IngestProcessor)),
      LogStream(LogFileName(LogComponent::KXLogTransport)),
  };
  return streams[static_cast<int>(component)];
}

void ComponentLog::Start(OpenRule rule) {
  enabled_ = IsLoggingSwitchOn();
  if (enabled_ || rule == OpenRule::kOpenAlways) stream_.Open(rule == OpenRule::kAppendWhenSwitchOn);
}

}  // namespace kx
