// The system element: Windows product and version, languages, memory and processor of the machine the crash
// happened on. The probe (system_probe.h) gathers raw answers from the platform; the rules here turn them
// into the element's thirteen values, so that every rule can be tested without the machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kx {

struct OsVersionNumbers {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
};

// The two parts of a language tag; each is absent when its locale query failed.
struct LocaleParts {
  std::optional<std::string> language;  // ISO 639
  std::optional<std::string> country;   // ISO 3166
};

// Raw answers of the platform, texts already in the thread's ANSI code page and not yet trimmed.
struct SystemFacts {
  bool versionKeyOpen = false;  // HKLM "SOFTWARE\Microsoft\Windows NT\CurrentVersion"
  std::string productName;      // its "ProductName"; empty when unreadable
  std::optional<OsVersionNumbers> version;
  std::string applicationLocale;  // from the crash data, used unchanged
  LocaleParts userLocale;
  LocaleParts systemLocale;
  std::optional<std::uint64_t> totalPhysicalBytes;
  std::string processorName;                  // "ProcessorNameString"; empty when unreadable
  std::string processorIdentifier;            // "Identifier"; empty when unreadable
  std::optional<std::uint32_t> processorMhz;  // "~MHz"
  std::uint32_t processorCount = 0;
  std::uint32_t processorType = 0;
  std::uint32_t processorArchitecture = 0;
};

// The element's values, in attribute order.
struct SystemValues {
  std::string platform;
  std::string osversion;
  std::string osbuild;
  std::string applicationlanguage;
  std::string userlanguage;
  std::string oslanguage;
  std::string ram;
  std::string machine;
  std::string model;
  std::string cpuCount;
  std::string cpuType;
  std::string cpuFreq;
  std::string processorArchitecture;
};

// Windows 11 kept the product name of Windows 10 in the registry: from build 22000 on, "10" in a name that
// mentions "Windows 10" becomes "11". Trimmed.
std::string AdjustProductName(const std::string& productName, std::uint32_t build);

// "major.minor", major 10 reported as 11 from build 22000 on.
std::string FormatOsVersion(const OsVersionNumbers& version);

// "en-US"; a failed part reads "unknown": "en-unknown", "unknown-US". Trimmed.
std::string FormatLanguageTag(const LocaleParts& parts);

// Whole mebibytes (rounded down), or "unknown".
std::string FormatMemory(const std::optional<std::uint64_t>& totalPhysicalBytes);

// "2904 MHz", or "unknown".
std::string FormatProcessorSpeed(const std::optional<std::uint32_t>& mhz);

// With the CurrentVersion key unreadable, platform, osversion and osbuild are empty.
SystemValues BuildSystemValues(const SystemFacts& facts);

// The system element line; values are escaped.
std::string FormatSystemTag(const SystemValues& values);

}  // namespace kx
