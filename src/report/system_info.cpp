#include "report/system_info.h"

#include "common/text_utils.h"
#include "report/xml_text.h"

namespace kx {
namespace {

constexpr std::uint32_t kFirstWindows11Build = 22000;

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

std::string AdjustProductName(const std::string& productName, std::uint32_t build) {
  // The build is compared as a number; as text, builds of 100000 and above would sort before "22000".
  if (productName.find("Windows 10") != std::string::npos && build >= kFirstWindows11Build) {
    return TrimText(ReplaceAll(productName, "10", "11"));
  }
  return TrimText(productName);
}

std::string FormatOsVersion(const OsVersionNumbers& version) {
  const std::uint32_t major =
      (version.major == 10 && version.build >= kFirstWindows11Build) ? 11 : version.major;
  return std::to_string(major) + "." + std::to_string(version.minor);
}

std::string FormatLanguageTag(const LocaleParts& parts) {
  std::string tag = parts.language ? *parts.language + "-" : std::string("unknown-");
  tag += parts.country ? *parts.country : std::string("unknown");
  return TrimText(tag);
}

std::string FormatMemory(const std::optional<std::uint64_t>& totalPhysicalBytes) {
  return totalPhysicalBytes ? std::to_string(*totalPhysicalBytes >> 20) : std::string("unknown");
}

std::string FormatProcessorSpeed(const std::optional<std::uint32_t>& mhz) {
  return mhz ? std::to_string(*mhz) + " MHz" : std::string("unknown");
}

SystemValues BuildSystemValues(const SystemFacts& facts) {
  SystemValues values;
  if (facts.versionKeyOpen) {
    values.platform = facts.version ? AdjustProductName(facts.productName, facts.version->build)
                                    : TrimText(facts.productName);
    if (facts.version) {
      values.osversion = FormatOsVersion(*facts.version);
      values.osbuild = std::to_string(facts.version->build);
    }
  }
  values.applicationlanguage = facts.applicationLocale;
  values.userlanguage = FormatLanguageTag(facts.userLocale);
  values.oslanguage = FormatLanguageTag(facts.systemLocale);
  values.ram = FormatMemory(facts.totalPhysicalBytes);
  values.machine = TrimText(facts.processorName);
  values.model = TrimText(facts.processorIdentifier);
  values.cpuCount = std::to_string(facts.processorCount);
  values.cpuType = std::to_string(facts.processorType);
  values.cpuFreq = FormatProcessorSpeed(facts.processorMhz);
  values.processorArchitecture = std::to_string(facts.processorArchitecture);
  return values;
}

std::string FormatSystemTag(const SystemValues& values) {
  std::string line = "<system";
  AppendXmlAttribute(line, "platform", values.platform);
  AppendXmlAttribute(line, "osversion", values.osversion);
  AppendXmlAttribute(line, "osbuild", values.osbuild);
  AppendXmlAttribute(line, "applicationlanguage", values.applicationlanguage);
  AppendXmlAttribute(line, "userlanguage", values.userlanguage);
  AppendXmlAttribute(line, "oslanguage", values.oslanguage);
  AppendXmlAttribute(line, "ram", values.ram);
  AppendXmlAttribute(line, "machine", values.machine);
  AppendXmlAttribute(line, "model", values.model);
  AppendXmlAttribute(line, "cpuCount", values.cpuCount);
  AppendXmlAttribute(line, "cpuType", values.cpuType);
  AppendXmlAttribute(line, "cpuFreq", values.cpuFreq);
  AppendXmlAttribute(line, "processorArchitecture", values.processorArchitecture);
  line += "/>\n";
  return line;
}

}  // namespace kx
