#include "dumpinfo/dump_format.h"

#include <cstddef>
#include <cstdint>

#include "common/hex_text.h"
#include "common/json_text.h"
#include "dumpinfo/dump_names.h"
#include "stackwalk/module_identity.h"

namespace kx {
namespace {

// "0x" and upper-case digits, zero-padded to the width of the field: 8 digits for 32-bit values, 16 for
// addresses and 64-bit registers.
std::string Hex(std::uint64_t value, int digits) {
  std::string text = "0x";
  AppendHex(text, value, digits, true);
  return text;
}

std::string PadRight(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string Label(const char* label) { return PadRight(label, 15); }

// The number and, when it has one, its name: "0xC0000005 EXCEPTION_ACCESS_VIOLATION".
std::string WithName(std::string number, const char* name) {
  return name != nullptr ? number + " " + name : number;
}

// A name and its number, "AMD64 (9)"; a number without a name in hexadecimal as well, "0xFFF0 (65520)".
std::string NameAndNumber(const char* name, std::uint32_t number) {
  std::string text = "0x";
  if (name == nullptr) AppendHex(text, number, 4, true);
  return (name != nullptr ? name : text) + " (" + std::to_string(number) + ")";
}

void AppendUtf8(std::string& out, std::uint32_t point) {
  if (point < 0x80) {
    out.push_back(static_cast<char>(point));
  } else if (point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (point >> 6)));
    out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  } else if (point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  }
}

// UTF-8 (a symbolizer's names) as UTF-16 units; a byte that is not part of well-formed UTF-8 as U+FFFD.
std::u16string Utf16OfUtf8(std::string_view text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80                   ? 1
                               : lead >= 0xF0 && lead < 0xF5 ? 4
                               : lead >= 0xE0                ? 3
                               : lead >= 0xC2                ? 2
                                                             : 0;
    std::uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
    bool good = length != 0 && text.size() - i >= length;
    for (std::size_t k = 1; good && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      good = (next & 0xC0) == 0x80;
      point = (point << 6) | (next & 0x3F);
    }
    static const std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    good = good && point >= kLeast[length] && point <= 0x10FFFF && (point < 0xD800 || point > 0xDFFF);
    if (!good) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (point >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(point));
    }
    i += length;
  }
  return out;
}

// UTF-16 units handed one by one to the JSON escaper, which writes \uXXXX for each unit beyond ASCII: a
// surrogate pair comes out as the two escapes JSON expects, whatever the width of wchar_t.
std::string JsonString(const std::u16string& text) {
  return "\"" + EscapeJsonString(std::wstring(text.begin(), text.end())) + "\"";
}
std::string JsonString(const char* text) {
  if (text == nullptr) return "null";
  const std::string narrow = text;
  return "\"" + EscapeJsonString(std::wstring(narrow.begin(), narrow.end())) + "\"";
}

// Seconds since 1970 as a UTC calendar date and time (the days-to-civil conversion of the proleptic
// Gregorian calendar); the C runtime's gmtime is not used so that every platform gives the same text.
std::string UtcTime(std::uint32_t seconds, bool iso) {
  const std::uint64_t z = seconds / 86400u + 719468u;
  const std::uint64_t era = z / 146097u;
  const std::uint64_t dayOfEra = z - era * 146097u;
  const std::uint64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::uint64_t monthIndex = (5 * dayOfYear + 2) / 153;  // 0 is March
  const std::uint64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const std::uint64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const std::uint64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const std::uint32_t second = seconds % 86400u;
  const auto two = [](std::uint64_t value) {
    return std::string(value < 10 ? "0" : "") + std::to_string(value);
  };
  return std::to_string(year) + "-" + two(month) + "-" + two(day) + (iso ? "T" : " ") + two(second / 3600) +
         ":" + two(second / 60 % 60) + ":" + two(second % 60) + (iso ? "Z" : " UTC");
}

std::string FileVersion(const DumpModule& module) {
  if (!module.fileVersion) return {};
  const std::uint64_t v = *module.fileVersion;
  return std::to_string(v >> 48) + "." + std::to_string((v >> 32) & 0xFFFF) + "." +
         std::to_string((v >> 16) & 0xFFFF) + "." + std::to_string(v & 0xFFFF);
}

std::string OsVersion(const DumpSystemInfo& system) {
  return std::to_string(system.majorVersion) + "." + std::to_string(system.minorVersion) + "." +
         std::to_string(system.buildNumber);
}

std::string RegisterValue(const DumpRegister& reg) { return Hex(reg.value, static_cast<int>(reg.bytes * 2)); }

void AppendTextException(std::string& out, const DumpException& exception) {
  out += Label("Exception") + WithName(Hex(exception.code, 8), DumpExceptionName(exception.code)) + "\n";
  out += Label("  address") + Hex(exception.address, 16) + "\n";
  out += Label("  thread") + std::to_string(exception.threadId) + " (" + Hex(exception.threadId, 8) + ")\n";
  if (exception.access) {
    const char* kind = DumpAccessKindName(exception.access->kind);
    out += Label("  access") + (kind != nullptr ? kind : "kind " + std::to_string(exception.access->kind)) +
           " at " + Hex(exception.access->address, 16) + "\n";
  }
  out += Label("  flags") + Hex(exception.flags, 8) + "\n";
  std::string parameters;
  for (std::uint64_t parameter : exception.parameters) {
    parameters += (parameters.empty() ? "" : " ") + Hex(parameter, 16);
  }
  out += Label("  parameters") + (parameters.empty() ? "none" : parameters) + "\n";
  out += "\nRegisters of thread " + std::to_string(exception.threadId) + "\n";
  if (exception.registers.empty()) out += "  none: the thread context is not an x64 CONTEXT\n";
  for (std::size_t i = 0; i < exception.registers.size(); ++i) {
    const DumpRegister& reg = exception.registers[i];
    out += "  " + PadRight(reg.name, 7) + RegisterValue(reg);
    if (i % 3 == 2 || i + 1 == exception.registers.size()) out += "\n";
  }
}

void AppendTextSystem(std::string& out, const DumpSystemInfo& system) {
  out += "System\n";
  out += Label("  processor") +
         NameAndNumber(DumpArchitectureName(system.architecture), system.architecture) + ", " +
         std::to_string(system.processorCount) + " processors, level " +
         std::to_string(system.processorLevel) + ", revision " + Hex(system.processorRevision, 4) + "\n";
  out += Label("  os") + OsVersion(system) + ", platform " + std::to_string(system.platformId) +
         ", product type " + std::to_string(system.productType);
  if (!system.servicePack.empty()) out += ", \"" + DisplayText(system.servicePack) + "\"";
  out += "\n";
}

void AppendTextModules(std::string& out, const std::vector<DumpModule>& modules, const DumpStacks* stacks) {
  out += "Modules (" + std::to_string(modules.size()) + ")\n";
  out +=
      "  base                size        timestamp   version            debug id                           "
      "name\n";
  for (std::size_t i = 0; i < modules.size(); ++i) {
    const DumpModule& module = modules[i];
    const bool missing = stacks != nullptr && i < stacks->moduleImages.size() && !stacks->moduleImages[i];
    out += "  " + Hex(module.base, 16) + "  " + Hex(module.size, 8) + "  " + Hex(module.timeDateStamp, 8) +
           "  " + PadRight(module.fileVersion ? FileVersion(module) : "-", 17) + "  " +
           PadRight(module.codeView ? DebugIdText(*module.codeView) : "-", 33) + "  " +
           DisplayText(module.name) + (missing ? "  (no symbols)" : "") + "\n";
  }
}

std::string FrameLocation(const NamedFrame& frame, const DumpStacks& stacks) {
  std::string text = Hex(frame.walked.address, 16) + "  ";
  if (frame.walked.module == ModuleMap::kNone) return text + "?";
  text += std::string(FileNameOfPath(stacks.modules[frame.walked.module].name)) + "+0x";
  AppendHex(text, frame.offset, 1, true);
  return text;
}

void AppendTextStacks(std::string& out, const DumpStacks& stacks) {
  out += Label("Signature") + stacks.signature.text + " (rules " + std::to_string(stacks.signature.rules) +
         ")\n";
  for (const ThreadStack& thread : stacks.threads) {
    out += "\nThread " + std::to_string(thread.id) + (thread.crashed ? " (crashed)" : "") + "\n";
    if (thread.frames.empty()) out += "  no frames: the thread has no x64 context\n";
    for (std::size_t i = 0; i < thread.frames.size(); ++i) {
      const NamedFrame& frame = thread.frames[i];
      out += "  " + PadRight(std::to_string(i), 4) + PadRight(FrameLocation(frame, stacks), 56) +
             FrameTrustName(frame.walked.trust) + "\n";
      for (const SourceFrame& name : frame.names) {
        out += "        " + DisplayText(Utf16OfUtf8(name.function));
        if (!name.file.empty()) {
          out += "  " + DisplayText(Utf16OfUtf8(name.file)) + ":" + std::to_string(name.line) + ":" +
                 std::to_string(name.column);
        }
        out += "\n";
      }
    }
  }
  if (stacks.threadsLeftOut != 0) {
    out += "\n" + std::to_string(stacks.threadsLeftOut) + " more threads not walked\n";
  }
}

void AppendTextStreams(std::string& out, const std::vector<DumpStream>& streams) {
  out += "Streams (" + std::to_string(streams.size()) + ")\n";
  out += "  #    type                                  rva         size\n";
  for (std::size_t i = 0; i < streams.size(); ++i) {
    const DumpStream& stream = streams[i];
    const std::string type = NameAndNumber(DumpStreamTypeName(stream.type), stream.type);
    out += "  " + PadRight(std::to_string(i), 5) + PadRight(type, 38) + Hex(stream.rva, 8) + "  " +
           std::to_string(stream.size) + "\n";
  }
}

void AppendJsonException(std::string& out, const DumpException& exception) {
  out += "{\n    \"thread_id\": " + std::to_string(exception.threadId) + ",\n";
  out += "    \"code\": \"" + Hex(exception.code, 8) + "\",\n";
  out += "    \"name\": " + JsonString(DumpExceptionName(exception.code)) + ",\n";
  out += "    \"flags\": \"" + Hex(exception.flags, 8) + "\",\n";
  out += "    \"address\": \"" + Hex(exception.address, 16) + "\",\n";
  out += "    \"parameters\": [";
  for (std::size_t i = 0; i < exception.parameters.size(); ++i) {
    out += std::string(i == 0 ? "" : ", ") + "\"" + Hex(exception.parameters[i], 16) + "\"";
  }
  out += "],\n    \"access\": ";
  if (exception.access) {
    out += "{\"kind\": " + JsonString(DumpAccessKindName(exception.access->kind)) + ", \"address\": \"" +
           Hex(exception.access->address, 16) + "\"}";
  } else {
    out += "null";
  }
  out += ",\n    \"registers\": ";
  if (exception.registers.empty()) out += "null";
  for (std::size_t i = 0; i < exception.registers.size(); ++i) {
    std::string key = exception.registers[i].name;
    for (char& c : key) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    out += std::string(i == 0 ? "{" : ", ") + "\"" + key + "\": \"" + RegisterValue(exception.registers[i]) +
           "\"";
  }
  if (!exception.registers.empty()) out += "}";
  out += "\n  }";
}

void AppendJsonSystem(std::string& out, const DumpSystemInfo& system) {
  out += "{\"processor_architecture\": " + std::to_string(system.architecture) +
         ", \"processor_architecture_name\": " + JsonString(DumpArchitectureName(system.architecture)) +
         ", \"processor_level\": " + std::to_string(system.processorLevel) + ", \"processor_revision\": \"" +
         Hex(system.processorRevision, 4) + "\", \"processors\": " + std::to_string(system.processorCount) +
         ", \"product_type\": " + std::to_string(system.productType) + ", \"os_version\": \"" +
         OsVersion(system) + "\", \"platform_id\": " + std::to_string(system.platformId) +
         ", \"service_pack\": " + JsonString(system.servicePack) + "}";
}

std::string JsonText(const std::string& utf8) { return JsonString(Utf16OfUtf8(utf8)); }

void AppendJsonModules(std::string& out, const std::vector<DumpModule>& modules, const DumpStacks* stacks) {
  out += "[";
  for (std::size_t i = 0; i < modules.size(); ++i) {
    const DumpModule& module = modules[i];
    const std::string pdb = module.codeView ? std::string(FileNameOfPath(module.codeView->pdbPath)) : "";
    const bool walked = stacks != nullptr && i < stacks->moduleImages.size();
    out += std::string(i == 0 ? "\n" : ",\n") + "    {\"base\": \"" + Hex(module.base, 16) +
           "\", \"size\": " + std::to_string(module.size) + ", \"time_date_stamp\": \"" +
           Hex(module.timeDateStamp, 8) + "\", \"file_version\": " +
           (module.fileVersion ? "\"" + FileVersion(module) + "\"" : std::string("null")) +
           ", \"code_id\": \"" + CodeIdText(module.timeDateStamp, module.size) + "\", \"debug_id\": " +
           (module.codeView ? "\"" + DebugIdText(*module.codeView) + "\"" : std::string("null")) +
           ", \"debug_file\": " + (pdb.empty() ? std::string("null") : JsonText(pdb)) +
           ", \"in_store\": " + (walked ? (stacks->moduleImages[i] ? "true" : "false") : "null") +
           ", \"name\": " + JsonString(module.name) + "}";
  }
  out += modules.empty() ? "]" : "\n  ]";
}

void AppendJsonFrame(std::string& out, const NamedFrame& frame, const DumpStacks& stacks) {
  const bool inModule = frame.walked.module != ModuleMap::kNone;
  out +=
      "{\"address\": \"" + Hex(frame.walked.address, 16) + "\", \"module\": " +
      (inModule ? JsonText(std::string(FileNameOfPath(stacks.modules[frame.walked.module].name))) : "null") +
      ", \"module_index\": " + (inModule ? std::to_string(frame.walked.module) : "null") +
      ", \"offset\": " + (inModule ? "\"" + Hex(frame.offset, 8) + "\"" : std::string("null")) +
      ", \"trust\": \"" + FrameTrustName(frame.walked.trust) + "\", \"functions\": [";
  for (std::size_t i = 0; i < frame.names.size(); ++i) {
    const SourceFrame& name = frame.names[i];
    out += std::string(i == 0 ? "" : ", ") + "{\"name\": " + JsonText(name.function) +
           ", \"file\": " + (name.file.empty() ? "null" : JsonText(name.file)) +
           ", \"line\": " + (name.line == 0 ? "null" : std::to_string(name.line)) +
           ", \"column\": " + (name.column == 0 ? "null" : std::to_string(name.column)) + "}";
  }
  out += "]}";
}

void AppendJsonStacks(std::string& out, const DumpStacks& stacks) {
  out += "[";
  for (std::size_t t = 0; t < stacks.threads.size(); ++t) {
    const ThreadStack& thread = stacks.threads[t];
    out += std::string(t == 0 ? "\n" : ",\n") + "    {\"id\": " + std::to_string(thread.id) +
           ", \"crashed\": " + (thread.crashed ? "true" : "false") + ", \"frames\": [";
    for (std::size_t i = 0; i < thread.frames.size(); ++i) {
      out += i == 0 ? "\n      " : ",\n      ";
      AppendJsonFrame(out, thread.frames[i], stacks);
    }
    out += thread.frames.empty() ? "]}" : "\n    ]}";
  }
  out += stacks.threads.empty() ? "]" : "\n  ]";
  out += ",\n  \"threads_not_walked\": " + std::to_string(stacks.threadsLeftOut);
  out += ",\n  \"signature\": {\"rules\": " + std::to_string(stacks.signature.rules) +
         ", \"text\": " + JsonText(stacks.signature.text) + ", \"frame\": " +
         (stacks.signature.frame == static_cast<std::size_t>(-1) ? "null"
                                                                 : std::to_string(stacks.signature.frame)) +
         "}";
}

void AppendJsonStreams(std::string& out, const std::vector<DumpStream>& streams) {
  out += "[";
  for (std::size_t i = 0; i < streams.size(); ++i) {
    const DumpStream& stream = streams[i];
    out += std::string(i == 0 ? "\n" : ",\n") + "    {\"type\": " + std::to_string(stream.type) +
           ", \"name\": " + JsonString(DumpStreamTypeName(stream.type)) + ", \"rva\": \"" +
           Hex(stream.rva, 8) + "\", \"size\": " + std::to_string(stream.size) + "}";
  }
  out += streams.empty() ? "]" : "\n  ]";
}

}  // namespace

// A name from the file must not move the cursor or change colours.
std::string DisplayText(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t point = text[i];
    const bool high = point >= 0xD800 && point <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      point = 0x10000 + ((point - 0xD800) << 10) + (text[++i] - 0xDC00u);
    } else if (point >= 0xD800 && point <= 0xDFFF) {
      point = 0xFFFD;
    } else if (point < 0x20 || (point >= 0x7F && point < 0xA0)) {
      point = '?';
    }
    AppendUtf8(out, point);
  }
  return out;
}

std::string FormatDumpText(const MinidumpInfo& info, const DumpStacks* stacks) {
  std::string out;
  out += Label("Minidump") + std::to_string(info.fileSize) + " bytes, version " +
         Hex(info.version & 0xFFFF, 4) + ", writer's version " + Hex(info.version >> 16, 4) + "\n";
  out += Label("Written") + UtcTime(info.timeDateStamp, false) + "\n";
  out += Label("Dump type") + Hex(info.flags, 16) + "\n\n";
  if (info.exception) {
    AppendTextException(out, *info.exception);
  } else {
    out += Label("Exception") + "none: the dump has no exception stream\n";
  }
  out += "\n";
  if (stacks != nullptr) {
    AppendTextStacks(out, *stacks);
    out += "\n";
  }
  if (info.systemInfo) {
    AppendTextSystem(out, *info.systemInfo);
  } else {
    out += Label("System") + "none: the dump has no system info stream\n";
  }
  out += "\n";
  if (info.modules) {
    AppendTextModules(out, *info.modules, stacks);
  } else {
    out += Label("Modules") + "none: the dump has no module list stream\n";
  }
  out += "\n";
  AppendTextStreams(out, info.streams);
  return out;
}

std::string FormatDumpJson(const MinidumpInfo& info, const DumpStacks* stacks) {
  std::string out = "{\n";
  out += "  \"file_size\": " + std::to_string(info.fileSize) + ",\n";
  out += "  \"version\": \"" + Hex(info.version, 8) + "\",\n";
  out += "  \"time_date_stamp\": " + std::to_string(info.timeDateStamp) + ",\n";
  out += "  \"written_utc\": \"" + UtcTime(info.timeDateStamp, true) + "\",\n";
  out += "  \"dump_type\": \"" + Hex(info.flags, 16) + "\",\n";
  out += "  \"exception\": ";
  if (info.exception) {
    AppendJsonException(out, *info.exception);
  } else {
    out += "null";
  }
  out += ",\n  \"system_info\": ";
  if (info.systemInfo) {
    AppendJsonSystem(out, *info.systemInfo);
  } else {
    out += "null";
  }
  out += ",\n  \"modules\": ";
  if (info.modules) {
    AppendJsonModules(out, *info.modules, stacks);
  } else {
    out += "null";
  }
  out += ",\n  \"threads\": ";
  if (stacks != nullptr) {
    AppendJsonStacks(out, *stacks);
  } else {
    out += "null,\n  \"threads_not_walked\": 0,\n  \"signature\": null";
  }
  out += ",\n  \"streams\": ";
  AppendJsonStreams(out, info.streams);
  out += "\n}\n";
  return out;
}

}  // namespace kx
