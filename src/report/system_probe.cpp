#include "report/system_probe.h"

#include <windows.h>

#include "common/text_convert.h"
#include "common/win_handles.h"

namespace kx {
namespace {

constexpr wchar_t kVersionKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr wchar_t kProcessorKey[] = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
// Registry texts longer than this (terminator included) are not believed and read as empty.
constexpr DWORD kRegistryTextUnits = 130;
constexpr int kLocaleTextUnits = 260;

std::string ToReportText(const std::wstring& text) { return NarrowToCodePage(text, CP_THREAD_ACP); }

UniqueRegKey OpenMachineKey(const wchar_t* path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return UniqueRegKey();
  return UniqueRegKey(key);
}

// Empty when the value is missing, not a REG_SZ or too long.
std::string ReadRegistryText(const UniqueRegKey& key, const wchar_t* name) {
  if (!key) return {};
  wchar_t buffer[kRegistryTextUnits] = {};
  DWORD size = sizeof(buffer);
  if (::RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
    return {};
  }
  return ToReportText(buffer);  // RegGetValueW terminates the text
}

std::optional<std::uint32_t> ReadRegistryNumber(const UniqueRegKey& key, const wchar_t* name) {
  if (!key) return std::nullopt;
  DWORD number = 0;
  DWORD size = sizeof(number);
  if (::RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_DWORD, nullptr, &number, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return number;
}

// RtlGetVersion reports the true version whatever compatibility settings the program runs under.
std::optional<OsVersionNumbers> ReadOsVersion() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return std::nullopt;
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  // Through the generic function pointer type, which converts to and from every other one.
  const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, "RtlGetVersion")));
  if (rtlGetVersion == nullptr) return std::nullopt;
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  if (rtlGetVersion(&info) != 0) return std::nullopt;
  return OsVersionNumbers{info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
}

std::optional<std::string> ReadLocaleText(const wchar_t* localeName, LCTYPE item) {
  wchar_t buffer[kLocaleTextUnits] = {};
  if (::GetLocaleInfoEx(localeName, item, buffer, kLocaleTextUnits) <= 0) return std::nullopt;
  return ToReportText(buffer);
}

LocaleParts ReadLocaleParts(const wchar_t* localeName) {
  return {ReadLocaleText(localeName, LOCALE_SISO639LANGNAME),
          ReadLocaleText(localeName, LOCALE_SISO3166CTRYNAME)};
}

LocaleParts ReadSystemLocaleParts() {
  LocaleParts parts = ReadLocaleParts(LOCALE_NAME_SYSTEM_DEFAULT);
  if (parts.language || parts.country) return parts;
  // Not every implementation knows the alias (Wine 8 refuses it): ask for the same locale by its name.
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  if (::GetSystemDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) <= 0) return parts;
  return ReadLocaleParts(name);
}

std::optional<std::uint64_t> ReadTotalPhysicalMemory() {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof(status);
  if (!::GlobalMemoryStatusEx(&status)) return std::nullopt;
  return status.ullTotalPhys;
}

}  // namespace

SystemFacts ProbeSystemFacts(const std::string& applicationLocale) {
  SystemFacts facts;
  SYSTEM_INFO system = {};
  ::GetSystemInfo(&system);
  facts.processorCount = system.dwNumberOfProcessors;
  facts.processorType = system.dwProcessorType;
  facts.processorArchitecture = system.wProcessorArchitecture;

  const UniqueRegKey versionKey = OpenMachineKey(kVersionKey);
  const UniqueRegKey processorKey = OpenMachineKey(kProcessorKey);
  facts.versionKeyOpen = versionKey.valid();
  if (versionKey) {
    facts.productName = ReadRegistryText(versionKey, L"ProductName");
    facts.version = ReadOsVersion();
  }
  facts.processorName = ReadRegistryText(processorKey, L"ProcessorNameString");
  facts.processorIdentifier = ReadRegistryText(processorKey, L"Identifier");
  facts.processorMhz = ReadRegistryNumber(processorKey, L"~MHz");
  facts.totalPhysicalBytes = ReadTotalPhysicalMemory();
  facts.systemLocale = ReadSystemLocaleParts();
  facts.userLocale = ReadLocaleParts(LOCALE_NAME_USER_DEFAULT);
  facts.applicationLocale = applicationLocale;
  return facts;
}

std::string FormatSystemTag(const std::string& applicationLocale) {
  return FormatSystemTag(BuildSystemValues(ProbeSystemFacts(applicationLocale)));
}

}  // namespace kx
