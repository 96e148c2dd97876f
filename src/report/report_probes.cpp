#include "report/report_probes.h"

#include <mutex>
#include <utility>

#include "report/gpu_probe.h"
#include "report/system_probe.h"

namespace kx {

// Owned jointly by the probing thread and the report: a thread still in WMI when the report is done never
// touches freed memory.
struct ReportProbes::Shared {
  explicit Shared(ULONGLONG deadlineTick) : deadline(deadlineTick) {}
  const ULONGLONG deadline;
  UniqueHandle factsReady{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle gpuReady{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::mutex mutex;  // guards what follows
  SystemFacts facts;
  std::wstring gpuLines;
  bool gpuTaken = false;  // the report has its lines: later ones are dropped
};

namespace {

DWORD WINAPI Probe(void* parameter) {
  const std::unique_ptr<std::shared_ptr<ReportProbes::Shared>> owner(
      static_cast<std::shared_ptr<ReportProbes::Shared>*>(parameter));
  ReportProbes::Shared& shared = **owner;
  try {
    // A new thread starts in the user's default locale, as the main thread does: texts in the thread's ANSI
    // code page read the same here.
    SystemFacts facts = ProbeSystemFacts(std::string());
    {
      const std::lock_guard<std::mutex> lock(shared.mutex);
      shared.facts = std::move(facts);
    }
    ::SetEvent(shared.factsReady.get());
    CollectGpuInfo([&shared](const std::wstring& line) {
      const std::lock_guard<std::mutex> lock(shared.mutex);
      if (shared.gpuTaken || ::GetTickCount64() >= shared.deadline) return false;
      shared.gpuLines += line;
      return true;
    });
  } catch (...) {
    // Out of memory: the report goes without what is missing.
  }
  ::SetEvent(shared.gpuReady.get());
  return 0;
}

}  // namespace

ReportProbes::ReportProbes(DWORD gpuLimitMs) : deadline_(::GetTickCount64() + gpuLimitMs) {
  shared_ = std::make_shared<Shared>(deadline_);
  if (!shared_->factsReady || !shared_->gpuReady) return;
  auto parameter = std::make_unique<std::shared_ptr<Shared>>(shared_);
  thread_.reset(::CreateThread(nullptr, 0, Probe, parameter.get(), 0, nullptr));
  if (thread_) parameter.release();  // the thread owns it now
}

ReportProbes::~ReportProbes() {
  if (thread_) ::WaitForSingleObject(thread_.get(), MillisecondsLeft());
}

DWORD ReportProbes::MillisecondsLeft() const {
  const ULONGLONG now = ::GetTickCount64();
  return now >= deadline_ ? 0 : static_cast<DWORD>(deadline_ - now);
}

SystemFacts ReportProbes::SystemFactsFor(const std::string& applicationLocale) {
  SystemFacts facts;
  if (thread_ && ::WaitForSingleObject(shared_->factsReady.get(), MillisecondsLeft()) == WAIT_OBJECT_0) {
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    facts = shared_->facts;
  } else {
    facts = ProbeSystemFacts(std::string());
  }
  facts.applicationLocale = applicationLocale;
  return facts;
}

std::wstring ReportProbes::GpuLines() {
  // Without its thread (no resources left to make one) the report goes without GPU lines.
  if (!thread_) return {};
  ::WaitForSingleObject(shared_->gpuReady.get(), MillisecondsLeft());
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->gpuTaken = true;
  return shared_->gpuLines;
}

}  // namespace kx
