// The gpuinfo lines of the report's gpu element: one per video controller, ten attributes read from the WMI
// class Win32_VideoController (gpu_probe.h). The rules here shape each value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

// Longest value written for a text attribute, counted after escaping.
inline constexpr std::size_t kGpuValueLimit = 100;
// Longest driver list taken from WMI, before it is simplified.
inline constexpr std::size_t kGpuDriverListLimit = 4096;

// One controller's values as read, not yet escaped; empty when unknown.
struct GpuInfo {
  std::wstring availability;
  std::wstring adapterCompatibility;
  std::wstring adapterRAM;
  std::wstring caption;
  std::wstring description;
  std::wstring driverDate;
  std::wstring driverVersion;
  std::wstring videoModeDescription;
  std::wstring pnpDeviceID;
  std::wstring installedDisplayDrivers;  // the whole list; the line holds its simplified form
};

// The name of a Win32_VideoController Availability value; "Other" for 0, 1 and every value above 21.
const wchar_t* AvailabilityName(std::uint16_t value);

// "512 MB" (whole mebibytes, rounded down); empty for 0.
std::wstring FormatAdapterRam(std::uint32_t bytes);

// The driver file names of a comma-separated list of paths: each piece after its last backslash, empty
// pieces of the list skipped, duplicates dropped, sorted by UTF-16 code unit, joined by ",".
std::wstring SimplifyDriverList(std::wstring_view list);

// A text property's value as written: escaped (EscapeXmlText) and cut to kGpuValueLimit characters.
std::wstring GpuTextValue(std::wstring_view text);

// InstalledDisplayDrivers as written: the first kGpuDriverListLimit characters, simplified, escaped, cut.
std::wstring GpuDriverListValue(std::wstring_view list);

// The gpuinfo line, with its line end. Every value goes through GpuTextValue, the driver list through
// GpuDriverListValue.
std::wstring FormatGpuInfoLine(const GpuInfo& info);

}  // namespace kx
