#include "report/crash_report_writer_win.h"

#include <cwchar>

#include "common/text_convert.h"
#include "common/win_handles.h"

namespace kx {
namespace {

// Holds SeTimeZonePrivilege enabled on the process token while the zone is read, as this service always has,
// and puts it back as it was afterwards. Every failure is ignored: reading the zone works without it.
class TimeZonePrivilege {
 public:
  TimeZonePrivilege() noexcept {
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.put()))
      return;
    TOKEN_PRIVILEGES enable = {};
    if (!::LookupPrivilegeValueW(nullptr, SE_TIME_ZONE_NAME, &enable.Privileges[0].Luid)) return;
    enable.PrivilegeCount = 1;
    enable.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD previousSize = 0;
    changed_ = ::AdjustTokenPrivileges(token_.get(), FALSE, &enable, sizeof(previous_), &previous_,
                                       &previousSize) != FALSE;
  }
  ~TimeZonePrivilege() {
    // PrivilegeCount is 0 when nothing changed (the privilege was already enabled, or is not held).
    if (changed_ && previous_.PrivilegeCount > 0) {
      ::AdjustTokenPrivileges(token_.get(), FALSE, &previous_, 0, nullptr, nullptr);
    }
  }
  TimeZonePrivilege(const TimeZonePrivilege&) = delete;
  TimeZonePrivilege& operator=(const TimeZonePrivilege&) = delete;

 private:
  UniqueHandle token_;
  TOKEN_PRIVILEGES previous_ = {};
  bool changed_ = false;
};

std::wstring ZoneName(const WCHAR (&name)[32]) { return std::wstring(name, ::wcsnlen(name, 32)); }

}  // namespace

TimeZoneInfo GetTimeZoneInfo() {
  TimeZoneInfo info;
  const TimeZonePrivilege privilege;
  TIME_ZONE_INFORMATION zone = {};
  const DWORD result = ::GetTimeZoneInformation(&zone);
  if (result == TIME_ZONE_ID_INVALID) return info;
  info.offsetMinutes = -zone.Bias;
  info.name = ZoneName(result == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightName : zone.StandardName);
  return info;
}

std::string FormatTimeTag() {
  // The Win32 clock and zone rather than the C runtime's, which would follow a TZ environment variable and
  // could then disagree with the zone the element names.
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  const LocalTimeParts time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  const TimeZoneInfo zone = GetTimeZoneInfo();
  return FormatTimeTag(time, zone.offsetMinutes, NarrowToCodePage(zone.name, CP_THREAD_ACP));
}

RegisterValues RegisterValuesFromContext(const CONTEXT& context) {
  RegisterValues registers;
  registers.rax = context.Rax;
  registers.rbx = context.Rbx;
  registers.rcx = context.Rcx;
  registers.rdx = context.Rdx;
  registers.rsi = context.Rsi;
  registers.rdi = context.Rdi;
  registers.rsp = context.Rsp;
  registers.rbp = context.Rbp;
  registers.rip = context.Rip;
  registers.eflags = context.EFlags;
  registers.lastExceptionToRip = context.LastExceptionToRip;
  registers.lastExceptionFromRip = context.LastExceptionFromRip;
  return registers;
}

}  // namespace kx
