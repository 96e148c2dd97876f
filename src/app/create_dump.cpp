#include "app/create_dump.h"

#include <utility>

#include "common/diagnostic_log.h"
#include "intake/crash_data.h"
#include "intake/crash_data_parser.h"
#include "intake/named_pipe.h"
#include "report/crash_files_writer.h"

namespace kx {
namespace {

void ReceiveAndGenerate(const std::string& crashIdentifier, ComponentLog& log) {
  log.Line("Inside initializer function of DumpRequestProcessor");
  log.Line("Going to connect to the named pipe");

  NamedPipe pipe;
  if (!pipe.Connect(crashIdentifier)) {
    log.Line("Could not connect to the pipe. Handle retured is NULL");
    return;
  }
  log.Line("Successfully connected to the pipe.");
  // The machine's facts take time, WMI above all: they are gathered while the message is read and the dump
  // is written. Not before the connect: a createdump without a front end has no use for them.
  ReportProbes probes;

  CrashData crashData;
  bool usable = false;
  {
    // The message (up to 10 MiB) is released before the generator runs.
    const std::string message = pipe.ReadMessage();
    log.Line("Crash data read from the pipe and it's value is:");
    log.Line(message);
    usable = ParseCrashData(message, crashData, log);
  }
  if (!usable) {
    // Without both ids there is no process or thread to dump.
    log.Line("ProcessId or ThreadId in the crash data is not a usable number, no crash log generated");
    return;
  }

  log.Line("Going to call the GenerateCrashLog function");
  CrashFilesWriter().Write(std::move(crashData), probes);
  log.Line("Came back from GenerateCrashLog");
}

}  // namespace

void CreateDump(const std::string& crashIdentifier) {
  ComponentLog log(LogComponent::DumpRequestProcessor);
  log.Start();
  ReceiveAndGenerate(crashIdentifier, log);
  log.Close();
}

}  // namespace kx
