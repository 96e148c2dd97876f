// What becomes of an application's reports once they are written (CrashHandlerOptions::policy). Platform-free:
// the ticket that hands a report to KXCrashReporter.exe and the plan of a report's steps name the same three.
#pragma once

namespace kx {

enum class ReportPolicy {
  kDontSend,  // "dontsend": the report and the dump are deleted (after "solutionurl" offered the report)
  kSend,      // "sendlog": both are finished and handed to the log transport
  kAsk,       // the user chooses in KXCrashReporter's dialog, or CrashHandlerOptions::decide when it is set;
              // nothing leaves the machine before the answer
};

}  // namespace kx
