#include "handler/hang_watchdog.h"

namespace kx {
namespace {

// How often the watchdog looks; a hang is seen within the limit and this much more.
constexpr DWORD kMaxLookMs = 250;

volatile LONG64 g_lastBeat = 0;  // Now() at the latest heartbeat

// Milliseconds of a clock that stands still while the machine sleeps or hibernates: a lid closed is no hang.
ULONGLONG Now() {
  ULONGLONG time = 0;  // in 100 ns
  ::QueryUnbiasedInterruptTime(&time);
  return time / 10000;
}

// The documented leading members of ntdll's THREAD_BASIC_INFORMATION.
struct ThreadBasicInformation {
  LONG exitStatus;
  void* tebBaseAddress;
  HANDLE clientIds[2];
  ULONG_PTR affinityMask;
  LONG priority;
  LONG basePriority;
};

bool ReadStackRange(HANDLE thread, std::uintptr_t& low, std::uintptr_t& high) {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  using QueryFunction = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<QueryFunction>(
      reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, "NtQueryInformationThread")));
  ThreadBasicInformation basic = {};
  if (query == nullptr || query(thread, 0 /* ThreadBasicInformation */, &basic, sizeof(basic), nullptr) != 0 ||
      basic.tebBaseAddress == nullptr) {
    return false;
  }
  // A thread block starts with the thread's NT_TIB; this process's own threads only.
  const NT_TIB* tib = static_cast<const NT_TIB*>(basic.tebBaseAddress);
  low = reinterpret_cast<std::uintptr_t>(tib->StackLimit);
  high = reinterpret_cast<std::uintptr_t>(tib->StackBase);
  return low < high;
}

// The thread is stopped only while its registers are copied: nothing that could wait for a lock it holds
// (allocation, the loader) runs in between.
bool TakeContext(const WatchedThread& thread, CONTEXT& context) {
  if (::SuspendThread(thread.handle.get()) == static_cast<DWORD>(-1)) return false;
  context.ContextFlags = CONTEXT_FULL;
  const bool taken = ::GetThreadContext(thread.handle.get(), &context) != FALSE;
  ::ResumeThread(thread.handle.get());
  return taken;
}

// The window's thread answers within `waitMs`; a window that is gone answers nothing and is not waited for.
bool WindowAnswers(HWND window, DWORD waitMs) {
  DWORD_PTR result = 0;
  return ::IsWindow(window) &&
         ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, waitMs, &result) != 0;
}

DWORD WINAPI Watch(void* parameter) {
  const WatchdogSettings& settings = *static_cast<const WatchdogSettings*>(parameter);
  const DWORD look = settings.limitMs / 4 < kMaxLookMs ? settings.limitMs / 4 + 1 : kMaxLookMs;
  ULONGLONG reportedAt = 0;  // the heartbeat the reported hang followed; 0: no hang reported
  ULONGLONG countFrom = Now();  // the count's start when no heartbeat came since
  for (;;) {
    const ULONGLONG looked = Now();
    if (settings.window != nullptr && WindowAnswers(settings.window, look)) {
      Beat();
    } else {
      ::Sleep(look);
    }
    const ULONGLONG now = Now();
    // Woken much later than planned: the whole process stood still (a debugger's break, a paused virtual
    // machine, a suspended or stopped process), the watched thread with it. No hang: the count starts again.
    if (now - looked > look + settings.limitMs / 2) countFrom = now;
    const ULONGLONG last = static_cast<ULONGLONG>(::InterlockedCompareExchange64(&g_lastBeat, 0, 0));
    if (reportedAt != 0 && last != reportedAt) reportedAt = 0;  // it answered: a later hang is a new one
    if (reportedAt != 0 || now - (last > countFrom ? last : countFrom) <= settings.limitMs) continue;
    reportedAt = last;
    alignas(16) CONTEXT context = {};
    if (TakeContext(settings.thread, context)) settings.report(context, settings.thread);
  }
}

}  // namespace

bool OpenWatchedThread(DWORD threadId, WatchedThread& watched) {
  watched.handle.reset(::OpenThread(
      THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION | SYNCHRONIZE, FALSE, threadId));
  if (!watched.handle) return false;
  watched.id = threadId;
  if (!ReadStackRange(watched.handle.get(), watched.stackLow, watched.stackHigh))
    watched.stackLow = watched.stackHigh = 0;
  return true;
}

bool StartWatchdog(const WatchdogSettings* settings) {
  Beat();
  // The thread runs for the process's life; nothing waits for it.
  const UniqueHandle thread(::CreateThread(nullptr, 0, Watch, const_cast<WatchdogSettings*>(settings), 0, nullptr));
  return thread.valid();
}

void Beat() { ::InterlockedExchange64(&g_lastBeat, static_cast<LONG64>(Now())); }

}  // namespace kx
