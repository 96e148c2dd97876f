#include "handler/stack_guard.h"

#include <cstdint>

namespace kx {
namespace {

constexpr std::uintptr_t kPageBytes = 4096;  // x64
volatile LONG g_guardNewThreads = 0;

void NTAPI OnThreadEvent(void*, DWORD reason, void*) {
  if (reason == DLL_THREAD_ATTACH && g_guardNewThreads != 0) GuardThreadStack();
}

}  // namespace

void GuardThreadStack() {
  ULONG guarantee = kStackGuaranteeBytes;
  if (!::SetThreadStackGuarantee(&guarantee)) return;
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  ::GetCurrentThreadStackLimits(&low, &high);
  // The stack's lowest page is never usable; the guard page is the highest page of the guarantee above it.
  const std::uintptr_t guard = low + kStackGuaranteeBytes;
  const volatile char here = 0;
  if (guard + 2 * kPageBytes >= reinterpret_cast<std::uintptr_t>(&here)) return;  // already that deep
  MEMORY_BASIC_INFORMATION page = {};
  if (::VirtualQuery(reinterpret_cast<void*>(guard), &page, sizeof(page)) != sizeof(page)) return;
  if (page.State != MEM_COMMIT || (page.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return;
  DWORD previous = 0;
  ::VirtualProtect(reinterpret_cast<void*>(guard), 1, page.Protect | PAGE_GUARD, &previous);
}

void GuardNewThreads() { ::InterlockedExchange(&g_guardNewThreads, 1); }

}  // namespace kx

// The loader calls the image's TLS callbacks at every thread start, before the thread's own code. The
// section places this one between the C runtime's first and last entries.
#if defined(_MSC_VER)
#pragma comment(linker, "/INCLUDE:_tls_used")
#pragma comment(linker, "/INCLUDE:kx_guard_thread_stack_callback")
extern "C" {
#pragma const_seg(".CRT$XLF")
extern const PIMAGE_TLS_CALLBACK kx_guard_thread_stack_callback;
const PIMAGE_TLS_CALLBACK kx_guard_thread_stack_callback = kx::OnThreadEvent;
#pragma const_seg()
}
#else
extern "C" {
__attribute__((section(".CRT$XLF"), used)) const PIMAGE_TLS_CALLBACK kx_guard_thread_stack_callback =
    kx::OnThreadEvent;
}
#endif
