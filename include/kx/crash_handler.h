// The reference crash handler: link it into an application, call CrashHandler::Install early in main, and a
// crash of any thread is captured, handed to KXWindowsClientService for a minidump and an XML report, and
// taken through the reporting steps the options ask for. See docs/integrating.md. This header and
// report_policy.h are all an application includes; they need only <windows.h> and the standard library.
// Every narrow text here, given or received, is UTF-8; paths are UTF-16.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kx/report_policy.h"

namespace kx {

// Exception codes the handler gives to crashes that raise no exception of their own; the process ends with
// the crash's code either way.
inline constexpr std::uint32_t kAbortCode = 0x40000015;             // abort(): STATUS_FATAL_APP_EXIT
inline constexpr std::uint32_t kInvalidParameterCode = 0xC0000417;  // STATUS_INVALID_CRUNTIME_PARAMETER
inline constexpr std::uint32_t kTerminateCode = 0xE04B5801;         // std::terminate
inline constexpr std::uint32_t kPureCallCode = 0xE04B5802;          // a pure virtual function called
// The exception code of a report made by CaptureReport, without a crash; its kind is "captured".
inline constexpr std::uint32_t kCaptureCode = 0xE04B5803;
// The exception code of a report of a hang the watchdog saw (CrashHandlerOptions::hangLimitMs); kind "hang".
inline constexpr std::uint32_t kHangCode = 0xE04B5804;

// What is known of a report once "createdump" has run: handed to the decision callback, which is asked before
// anything of the report leaves the machine.
struct CrashSummary {
  std::uint32_t exceptionCode = 0;
  std::string kind;  // "access-violation", "stack-overflow", "abort", ... (the report's SignalType)
  std::wstring crashIdentifier;  // the service's third word for this crash
  bool reportWritten = false;    // "createdump" left a report
  // The solution server's help link. Always empty for the decision callback: it is asked before the report
  // goes to the solution server, which is what gives the link.
  std::wstring solutionLink;
  // The crash's signature: its code and where it happened, "c0000005 app.exe+0x1a2b" (docs/integrating.md).
  std::string signature;
  // The crash-loop guard held: the crashes of its signature within the guard's window, this one included;
  // the report was written without its dump. 0: it did not hold.
  unsigned crashLoop = 0;
  bool heldBack = false;   // over the day's reports of its signature: not sent, whatever the policy
  unsigned heldBackBefore = 0;  // reports of its signature held back before it, which it tells of
};

// How the application's earlier runs ended, as the handler recorded them (CrashHandler::PreviousRuns). A run
// is one process from its CrashHandler::Install to its end.
struct PreviousRunFigures {
  unsigned runs = 0;             // the runs recorded before this one, at most the last 16
  unsigned crashed = 0;          // of those, ended by a crash the handler reported
  unsigned unknown = 0;          // ended without the handler learning how: killed, power cut, still running
  unsigned sameCrashInARow = 0;  // how many of the latest runs, back from the last, crashed with one signature
  std::string lastSignature;     // that signature; empty when the last run did not crash
};

struct CrashHandlerOptions {
  std::wstring servicePath;      // KXWindowsClientService.exe; empty: the one beside this program
  std::wstring clientDirectory;  // the service's client directory; empty: this program's folder
  // For the report's header and the event; each cut to 1024 bytes at a character's end, and any byte that
  // is not UTF-8 replaced (U+FFFD).
  std::string productName;
  std::string productVersion;
  std::string productBuild;
  std::string sessionId;  // the application's session, if it has one (bounded like the product texts)
  ReportPolicy policy = ReportPolicy::kDontSend;
  // For kAsk, in place of the reporter's dialog, for an application with a UI of its own: true sends the
  // report. Runs inside the crashed process on the handler's thread, before anything of the report leaves
  // the machine (the summary has no help link yet); false or no answer (an exception) discards the report
  // and sends nothing at all, not even the analytics event. Not asked about a report held back by the day's
  // limit, nor when "createdump" wrote none. Empty: the reporter asks.
  std::function<bool(const CrashSummary&)> decide;
  // KXCrashReporter.exe, which carries the steps after "createdump" so that the crashed process can end at
  // once; empty: the one beside servicePath. One that cannot be started leaves the steps to this process.
  std::wstring reporterPath;
  // A file the reporter appends its progress lines to (those of `progress` end with the hand-over).
  std::wstring reporterLog;
  bool openSolutionLink = false;            // "opensolutionurl" when the server gave a link
  bool checkTransportSignature = false;     // the service starts KXLogTransport.exe only when validly signed
  bool updatePreferencesAtInstall = false;  // "updatepvbpreference" in the background at Install
  DWORD createDumpLimitMs = 120000;         // "createdump" is terminated after this long
  DWORD commandLimitMs = 60000;             // each other command run
  // One line per step of the handling in this process, on the handler's thread; for an application's log.
  std::function<void(const std::string&)> progress;
  // Files copied beside each report (the application's log, say): at most 8, each at most 4 MiB (the
  // bytes beyond are cut and the report says so). Relative paths are made full at Install; paths beyond
  // the 8th are left out, and Install says so through `progress`.
  std::vector<std::wstring> attachments;
  // The crash-loop guard: from the loopGuardCrashes-th crash of one signature within loopGuardWindowMinutes,
  // the report is written without its dump (none is kept, none uploaded) and says so. 0: no guard.
  unsigned loopGuardCrashes = 3;
  unsigned loopGuardWindowMinutes = 60;
  // At most this many reports of one signature a day (UTC) are sent; the rest are handled as "dontsend"
  // and counted, and the next one sent tells how many were held back. 0: no limit.
  unsigned reportsPerDay = 10;
  // The hang watchdog, off at 0: when the watched thread has neither called Heartbeat nor (with hangWindow)
  // answered a message to that window for longer than this, a report of the running process is made, kind
  // "hang", and taken through the policy. One report per hang: the next comes after the thread answered.
  DWORD hangLimitMs = 0;
  // A window whose thread is watched instead of the thread that called Install: its answers to the
  // watchdog's messages count as heartbeats.
  HWND hangWindow = nullptr;
  bool endOnHang = false;  // the process is ended (with kHangCode) once the hang's report is handled
};

class CrashHandler {
 public:
  // Installs the handler for the whole process: the unhandled-exception filter, abort, std::terminate, the
  // C runtime's invalid-parameter and pure-call handlers, and the thread that does the work after a crash.
  // Once per process; false when called again or when the handler's thread could not be started.
  static bool Install(const CrashHandlerOptions& options);

  // Annotations: texts the application keeps up to date for its reports, each a key and a value (any
  // bytes, meant as UTF-8), listed in the report in the order first set. At most 64 keys of at most 64
  // bytes, values of at most 16 KiB, 64 KiB for all keys and values together. From any thread, before
  // Install too; never blocks for long and never allocates. False, and nothing changed, for an empty key,
  // anything beyond the bounds, or once a crash is being handled. Setting a key again replaces its value
  // and keeps its place; removing a key that is not set gives false.
  static bool SetAnnotation(const std::string& key, const std::string& value);
  static bool RemoveAnnotation(const std::string& key);

  // A report of the running process without a crash: a minidump and a report of the calling thread as it
  // calls (its frame in this function's caller), exception code kCaptureCode, kind "captured", `reason` in
  // the report (at most 1 KiB of it), taken through the same steps and policy as a crash. The calling thread
  // waits until "createdump" has ended; the later steps run in the reporter (or on the handler's thread)
  // after this returns, and with kAsk the reporter asks while the application goes on. One
  // report at a time: a call waits for an earlier one's steps. True when a report was written. False also
  // before Install, from the handler's own callbacks, once a crash is being handled, and when the handler
  // stays busy with an earlier report beyond its time limit.
  static bool CaptureReport(const std::string& reason);

  // For the hang watchdog: the watched thread is alive. Cheap, from any thread; nothing before Install.
  static void Heartbeat();

  // How the application's earlier runs ended, as read at Install (all zero before it, or without a storage
  // folder). A run that ends by returning from main or calling exit() is recorded as ended well.
  static PreviousRunFigures PreviousRuns();
};

}  // namespace kx
