// The hang watchdog: a thread of its own that watches one thread of the application through its
// heartbeats (CrashHandler::Heartbeat) and, when given, its window's answers to messages. When neither came
// for longer than the limit, it takes the watched thread's registers (suspended only for that) and hands
// them to the handler for a report. One hang, one report: the next one waits for a heartbeat first. It
// measures what the application could run: its clock stands still while the machine sleeps, and a wake-up
// much later than planned (the whole process paused) starts the count again.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/win_handles.h"

namespace kx {

struct WatchedThread {
  UniqueHandle handle;  // suspend, resume, context and query rights
  DWORD id = 0;
  std::uintptr_t stackLow = 0;  // its stack, from its thread block; an empty range when unknown
  std::uintptr_t stackHigh = 0;
};

// Opens the thread and reads its stack's range. False when it cannot be opened.
bool OpenWatchedThread(DWORD threadId, WatchedThread& watched);

struct WatchdogSettings {
  DWORD limitMs = 0;
  HWND window = nullptr;
  WatchedThread thread;
  // Makes the hang's report, on the watchdog's thread; returns once its dump is written.
  void (*report)(const CONTEXT& context, const WatchedThread& thread) = nullptr;
};

// Starts the watchdog on `settings`, which must live as long as the process. The watched thread counts as
// alive from now on.
bool StartWatchdog(const WatchdogSettings* settings);

// A heartbeat: the watched thread is alive now.
void Beat();

}  // namespace kx
