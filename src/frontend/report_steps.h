// Carries out the plan of one report (report_plan.h) with the service, in KXCrashReporter.exe and in the crash
// handler alike. What a step needs comes from the ticket (reporter_ticket.h), the one record of a report
// after its dump; what only the caller can do (ask, offer the help link on a page) comes as callbacks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "frontend/report_plan.h"
#include "frontend/reporter_ticket.h"
#include "frontend/service_commands.h"

namespace kx {

// Whether a report's exception code ended its application: the reports of CaptureReport and of the hang
// watchdog did not.
bool EndsTheRun(std::uint32_t exceptionCode);

// One line per step, for a progress log.
using SayLine = std::function<void(const std::string&)>;

// "dontsend" for the crash, said in one line after `why` (when there is one): how every report is
// discarded, whoever discards it and for whatever reason.
void Discard(const ServiceCommands& service, const std::wstring& crashIdentifier, DWORD limitMs,
             const SayLine& say, const std::string& why);

class ReportSteps {
 public:
  struct Questions {
    // The answer under the asking policy; empty: nobody answers (kDontSend).
    std::function<Answer()> ask;
    // The help link offered to the person who was asked; true when they chose to open it. Empty: not offered.
    std::function<bool(const std::wstring& link)> offerHelpLink;
  };

  // The ticket must outlive the steps.
  ReportSteps(const ReporterTicket& ticket, SayLine say);

  // Runs the plan of `input` (its answer not yet given): asks when the plan reaches kAsk, then takes the
  // steps the answer leads to. A discard says `discardWhy` first.
  void Run(PlanInput input, const Questions& questions, const std::string& discardWhy = "");

 private:
  void Take(ReportStep step, const Questions& questions, const std::string& discardWhy);
  Answer Ask(const Questions& questions);
  void Exchange();
  void Send();
  // A discarded report frees the place it reserved in the day's limit (run_history.h).
  void FreePlace();
  void OpenHelpLink();
  void QueueEvent();

  const ReporterTicket& ticket_;
  SayLine say_;
  ServiceCommands service_;
  std::string link_;  // the help link as the service wrote it (ANSI code page); empty: none
  std::wstring wideLink_;
  bool sent_ = false;
};

}  // namespace kx
