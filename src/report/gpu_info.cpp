#include "report/gpu_info.h"

#include <set>

#include "report/xml_text.h"

namespace kx {
namespace {

constexpr const wchar_t* kAvailabilityNames[] = {
    L"Other",                        // 0
    L"Other",                        // 1
    L"Unknown",                      // 2
    L"Running/Full Power",           // 3
    L"Warning",                      // 4
    L"In Test",                      // 5
    L"Not Applicable",               // 6
    L"Power Off",                    // 7
    L"Off Line",                     // 8
    L"Off Duty",                     // 9
    L"Degraded",                     // 10
    L"Not Installed",                // 11
    L"Install Error",                // 12
    L"Power Save - Unknown",         // 13
    L"Power Save - Low Power Mode",  // 14
    L"Power Save - Standby",         // 15
    L"Power Cycle",                  // 16
    L"Power Save - Warning",         // 17
    L"Paused",                       // 18
    L"Not Ready",                    // 19
    L"Not Configured",               // 20
    L"Quiesced",                     // 21
};

void AppendValue(std::wstring& line, const wchar_t* name, const std::wstring& value) {
  line += L' ';
  line += name;
  line += L"=\"";
  line += value;
  line += L'"';
}

}  // namespace

const wchar_t* AvailabilityName(std::uint16_t value) {
  constexpr std::size_t kCount = sizeof(kAvailabilityNames) / sizeof(kAvailabilityNames[0]);
  return value < kCount ? kAvailabilityNames[value] : L"Other";
}

std::wstring FormatAdapterRam(std::uint32_t bytes) {
  if (bytes == 0) return {};
  return std::to_wstring(bytes >> 20) + L" MB";
}

std::wstring SimplifyDriverList(std::wstring_view list) {
  std::set<std::wstring> names;
  while (!list.empty()) {
    const std::size_t comma = list.find(L',');
    std::wstring_view piece = list.substr(0, comma);
    list.remove_prefix(comma == std::wstring_view::npos ? list.size() : comma + 1);
    if (piece.empty()) continue;
    const std::size_t backslash = piece.rfind(L'\\');
    if (backslash != std::wstring_view::npos) piece.remove_prefix(backslash + 1);
    names.emplace(piece);
  }
  std::wstring joined;
  for (const std::wstring& name : names) {
    if (&name != &*names.begin()) joined += L',';
    joined += name;
  }
  return joined;
}

std::wstring GpuTextValue(std::wstring_view text) {
  std::wstring value(text);
  EscapeXmlText(value);
  CutEscapedText(value, kGpuValueLimit);
  return value;
}

std::wstring GpuDriverListValue(std::wstring_view list) {
  return GpuTextValue(SimplifyDriverList(list.substr(0, kGpuDriverListLimit)));
}

std::wstring FormatGpuInfoLine(const GpuInfo& info) {
  std::wstring line = L"<gpuinfo";
  AppendValue(line, L"availability", GpuTextValue(info.availability));
  AppendValue(line, L"adapterCompatibility", GpuTextValue(info.adapterCompatibility));
  AppendValue(line, L"adapterRAM", GpuTextValue(info.adapterRAM));
  AppendValue(line, L"caption", GpuTextValue(info.caption));
  AppendValue(line, L"description", GpuTextValue(info.description));
  AppendValue(line, L"driverDate", GpuTextValue(info.driverDate));
  AppendValue(line, L"driverVersion", GpuTextValue(info.driverVersion));
  AppendValue(line, L"videoModeDescription", GpuTextValue(info.videoModeDescription));
  AppendValue(line, L"pnpDeviceID", GpuTextValue(info.pnpDeviceID));
  AppendValue(line, L"installedDisplayDrivers", GpuDriverListValue(info.installedDisplayDrivers));
  line += L"/>\n";
  return line;
}

}  // namespace kx
