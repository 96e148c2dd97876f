// Per-component diagnostic log files. Logging is off unless the switch "generatekxlogornot.txt" (a file or a
// folder) exists in the log folder. Each component has one process-wide stream, closed until the component
// opens it; every open empties the file. Open and write failures are silent: logging never changes what a
// component does.
#pragma once

#include <string>
#include <string_view>

#include "common/log_line.h"
#include "common/win_handles.h"

namespace kx {

enum class LogComponent {
  DumpRequestProcessor,      // "DumpRequestProcessor.txt" (also the crash data parser)
  KXLogGenerator,            // "KXLogGeneratorlog.txt"
  NamedPipe,                 // "NamedPipe.txt"
  SolutionURL,               // "SolutionURL.txt"
  LogTransportProcessor,     // "LogTransportProcessor.txt"
  SignatureVerifierUtils,    // "SignatureVerifierUtils.txt"
  InitialDataSyncProcessor,  // "InitialDataSyncProcessor.txt"
  IngestProcessor,           // "IngestProcessor.txt"
  KXLogTransport,            // "KXLogTransport.txt" (the log transport program)
};

// True when the switch exists; tests the file system at every call. False when the storage root is unavailable.
bool IsLoggingSwitchOn();

// Log folder + "\" + file name; empty when the storage root is unavailable.
std::wstring LogFilePath(std::wstring_view fileName);

// The file name of a component's log.
const wchar_t* LogFileName(LogComponent component);

// Narrow text from the crash data, converted from the system ANSI code page before it is rendered.
struct AnsiText {
  std::string_view text;
};
void AppendLogPiece(std::string& line, AnsiText ansi);

// One component's log file. Writes on a stream that is closed or failed are dropped.
class LogStream {
 public:
  explicit LogStream(const wchar_t* fileName) noexcept : fileName_(fileName) {}
  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;

  // Opens the log file for writing in text mode, emptying it (or, with `append`, adding to its end: for a
  // program of which several copies run at once), with sharing that denies nothing to others. Any file open
  // before is closed first. On failure the stream is left failed.
  void Open(bool append = false);
  // Closes the file; a failing close leaves the stream failed.
  void Close();

  bool is_open() const noexcept { return file_.valid(); }
  bool failed() const noexcept { return failed_; }

  // Appends the pieces, a line end (stored as CR LF), and flushes, so each line is on disk once written.
  template <typename... Pieces>
  void WriteLine(const Pieces&... pieces) {
    if (!file_ || failed_) return;
    std::string line;
    (AppendLogPiece(line, pieces), ...);
    line.push_back('\n');
    WriteBytes(line);
  }

 private:
  void WriteBytes(const std::string& bytes);

  const wchar_t* fileName_;
  UniqueCrtFile file_;
  bool failed_ = false;
};

// The process-wide stream of a component; it exists, closed, for the whole life of the process.
LogStream& ComponentLogStream(LogComponent component);

// A component's run-scoped view of its log: the switch answer taken once at the start of the run, and the
// component's stream. Lines are written only while the answer is "on".
class ComponentLog {
 public:
  explicit ComponentLog(LogComponent component) noexcept : stream_(ComponentLogStream(component)) {}

  // Takes the switch answer; opens (empties) the file when logging is on, or always with kOpenAlways.
  // kAppendWhenSwitchOn adds to the file instead of emptying it (see LogStream::Open).
  enum class OpenRule { kWhenSwitchOn, kOpenAlways, kAppendWhenSwitchOn };
  void Start(OpenRule rule = OpenRule::kWhenSwitchOn);

  bool enabled() const noexcept { return enabled_; }

  template <typename... Pieces>
  void Line(const Pieces&... pieces) {
    if (enabled_) stream_.WriteLine(pieces...);
  }

  void Close() { stream_.Close(); }

 private:
  LogStream& stream_;
  bool enabled_ = false;
};

}  // namespace kx
