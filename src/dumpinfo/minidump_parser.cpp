#include "dumpinfo/minidump_parser.h"

#include <utility>

#include "common/hex_text.h"
#include "dumpinfo/minidump_layout.h"
#include "stackwalk/module_identity.h"

namespace kx {
namespace {

namespace md = minidump;

// Exceptions whose first two parameters are the kind of access and the address accessed.
constexpr std::uint32_t kAccessViolation = 0xC0000005u;
constexpr std::uint32_t kInPageError = 0xC0000006u;

// The bytes [rva, rva + size) of the file, or nothing when they are not all inside it. 64-bit arithmetic:
// an RVA near 4 GiB plus a size must not wrap around to a small offset.
std::optional<std::string_view> Slice(std::string_view file, std::uint64_t rva, std::uint64_t size) {
  if (rva > file.size() || size > file.size() - rva) return std::nullopt;
  return file.substr(static_cast<std::size_t>(rva), static_cast<std::size_t>(size));
}

// A little-endian number at an offset that the caller has already checked to lie inside `bytes`.
std::uint64_t ReadLe(std::string_view bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}
std::uint16_t Le16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(ReadLe(bytes, at, 2));
}
std::uint32_t Le32(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(ReadLe(bytes, at, 4));
}
std::uint64_t Le64(std::string_view bytes, std::size_t at) { return ReadLe(bytes, at, 8); }

std::string Hex(std::uint64_t value) {
  std::string text = "0x";
  AppendHex(text, value, 8, true);
  return text;
}

std::string Beyond(const std::string& what, std::uint64_t rva, std::uint64_t size) {
  return what + " at " + Hex(rva) + " (" + std::to_string(size) + " bytes) lies beyond the end of the file";
}

// A MINIDUMP_STRING at `rva`; false when its length or its text is not inside the file. An odd last byte is
// dropped: the text is whole UTF-16 units.
bool ReadString(std::string_view file, std::uint32_t rva, std::u16string& text) {
  const std::optional<std::string_view> length = Slice(file, rva, md::kStringLengthSize);
  if (!length) return false;
  const std::optional<std::string_view> units =
      Slice(file, std::uint64_t{rva} + md::kStringLengthSize, Le32(*length, 0));
  if (!units) return false;
  text.clear();
  text.reserve(units->size() / 2);
  for (std::size_t at = 0; at + 1 < units->size(); at += 2) {
    text.push_back(static_cast<char16_t>(Le16(*units, at)));
  }
  return true;
}

std::string ReadException(std::string_view file, std::string_view stream, DumpException& out) {
  if (stream.size() < md::kExceptionStreamSize) {
    return "exception stream is shorter than " + std::to_string(md::kExceptionStreamSize) + " bytes";
  }
  out.threadId = Le32(stream, md::kExceptionThreadId);
  out.code = Le32(stream, md::kExceptionCode);
  out.flags = Le32(stream, md::kExceptionFlags);
  out.address = Le64(stream, md::kExceptionAddress);
  const std::uint32_t count = Le32(stream, md::kExceptionParameterCount);
  if (count > md::kExceptionMaximumParameters) {
    return "exception record claims " + std::to_string(count) + " parameters, more than " +
           std::to_string(md::kExceptionMaximumParameters);
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    out.parameters.push_back(Le64(stream, md::kExceptionParameters + 8 * i));
  }
  if ((out.code == kAccessViolation || out.code == kInPageError) && count >= 2) {
    out.access = DumpFaultAccess{out.parameters[0], out.parameters[1]};
  }

  const std::uint32_t contextSize = Le32(stream, md::kExceptionContextSize);
  const std::uint32_t contextRva = Le32(stream, md::kExceptionContextRva);
  const std::optional<std::string_view> context = Slice(file, contextRva, contextSize);
  if (!context) return Beyond("thread context", contextRva, contextSize);
  out.context = *context;
  if (context->size() < md::kAmd64ContextSize) return {};
  for (const md::RegisterField& field : md::kAmd64Registers) {
    out.registers.push_back(
        {field.name, ReadLe(*context, field.offset, field.bytes), static_cast<std::uint32_t>(field.bytes)});
  }
  return {};
}

std::string ReadModules(std::string_view file, std::string_view stream, std::vector<DumpModule>& out) {
  if (stream.size() < md::kModuleCountSize) return "module list stream is shorter than its count";
  const std::uint32_t count = Le32(stream, 0);
  // Checked before anything is reserved: the count alone must not decide how much memory is taken.
  if (std::uint64_t{count} * md::kModuleSize > stream.size() - md::kModuleCountSize) {
    return "module list of " + std::to_string(stream.size()) + " bytes cannot hold its " +
           std::to_string(count) + " modules";
  }
  out.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string_view entry = stream.substr(md::kModuleCountSize + i * md::kModuleSize, md::kModuleSize);
    DumpModule module;
    module.base = Le64(entry, md::kModuleBase);
    module.size = Le32(entry, md::kModuleImageSize);
    module.timeDateStamp = Le32(entry, md::kModuleTimeDateStamp);
    if (Le32(entry, md::kModuleVersionSignature) == md::kFixedFileInfoSignature) {
      module.fileVersion = (std::uint64_t{Le32(entry, md::kModuleFileVersionHigh)} << 32) |
                           Le32(entry, md::kModuleFileVersionLow);
    }
    const std::uint32_t nameRva = Le32(entry, md::kModuleNameRva);
    if (!ReadString(file, nameRva, module.name)) {
      return "name of module " + std::to_string(i) + " at " + Hex(nameRva) +
             " lies beyond the end of the file";
    }
    const std::uint32_t codeViewSize = Le32(entry, md::kModuleCodeViewSize);
    const std::uint32_t codeViewRva = Le32(entry, md::kModuleCodeViewRva);
    const std::optional<std::string_view> codeView = Slice(file, codeViewRva, codeViewSize);
    if (!codeView) return Beyond("CodeView record of module " + std::to_string(i), codeViewRva, codeViewSize);
    module.codeView = ParseCodeViewRecord(*codeView);
    out.push_back(std::move(module));
  }
  return {};
}

std::string ReadSystemInfo(std::string_view file, std::string_view stream, DumpSystemInfo& out) {
  if (stream.size() < md::kSystemInfoSize) {
    return "system info stream is shorter than " + std::to_string(md::kSystemInfoSize) + " bytes";
  }
  out.architecture = Le16(stream, md::kSystemArchitecture);
  out.processorLevel = Le16(stream, md::kSystemProcessorLevel);
  out.processorRevision = Le16(stream, md::kSystemProcessorRevision);
  out.processorCount = static_cast<std::uint8_t>(stream[md::kSystemProcessorCount]);
  out.productType = static_cast<std::uint8_t>(stream[md::kSystemProductType]);
  out.majorVersion = Le32(stream, md::kSystemMajorVersion);
  out.minorVersion = Le32(stream, md::kSystemMinorVersion);
  out.buildNumber = Le32(stream, md::kSystemBuildNumber);
  out.platformId = Le32(stream, md::kSystemPlatformId);
  // RVA 0 is no text at all; any other must be a whole string inside the file.
  const std::uint32_t servicePackRva = Le32(stream, md::kSystemServicePackRva);
  if (servicePackRva != 0 && !ReadString(file, servicePackRva, out.servicePack)) {
    return "service pack text at " + Hex(servicePackRva) + " lies beyond the end of the file";
  }
  return {};
}

std::string ReadThreads(std::string_view file, std::string_view stream, MinidumpInfo& info) {
  if (stream.size() < 4) return "thread list stream is shorter than its count";
  const std::uint32_t count = Le32(stream, 0);
  if (std::uint64_t{count} * md::kThreadSize > stream.size() - 4) {
    return "thread list of " + std::to_string(stream.size()) + " bytes cannot hold its " +
           std::to_string(count) + " threads";
  }
  std::vector<DumpThread>& threads = info.threads.emplace();
  threads.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string_view entry = stream.substr(4 + i * md::kThreadSize, md::kThreadSize);
    DumpThread thread;
    thread.id = Le32(entry, md::kThreadId);
    const std::uint32_t stackSize = Le32(entry, md::kThreadStackSize);
    const std::uint32_t stackRva = Le32(entry, md::kThreadStackRva);
    const std::uint32_t contextSize = Le32(entry, md::kThreadContextSize);
    const std::uint32_t contextRva = Le32(entry, md::kThreadContextRva);
    const std::optional<std::string_view> stack = Slice(file, stackRva, stackSize);
    const std::optional<std::string_view> context = Slice(file, contextRva, contextSize);
    if (!stack) return Beyond("stack of thread " + std::to_string(i), stackRva, stackSize);
    if (!context) return Beyond("context of thread " + std::to_string(i), contextRva, contextSize);
    thread.stack = MemoryRegion{Le64(entry, md::kThreadStackStart), *stack};
    thread.context = *context;
    info.memory.push_back(thread.stack);
    threads.push_back(thread);
  }
  return {};
}

std::string ReadMemoryList(std::string_view file, std::string_view stream, MinidumpInfo& info) {
  if (stream.size() < 4) return "memory list stream is shorter than its count";
  const std::uint32_t count = Le32(stream, 0);
  if (std::uint64_t{count} * md::kMemoryDescriptorSize > stream.size() - 4) {
    return "memory list of " + std::to_string(stream.size()) + " bytes cannot hold its " +
           std::to_string(count) + " ranges";
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string_view entry =
        stream.substr(4 + i * md::kMemoryDescriptorSize, md::kMemoryDescriptorSize);
    const std::uint32_t size = Le32(entry, 8);
    const std::uint32_t rva = Le32(entry, 12);
    const std::optional<std::string_view> bytes = Slice(file, rva, size);
    if (!bytes) return Beyond("memory range " + std::to_string(i), rva, size);
    info.memory.push_back(MemoryRegion{Le64(entry, 0), *bytes});
  }
  return {};
}

// A full dump's memory: the ranges' bytes lie one after the other from one RVA.
std::string ReadMemory64List(std::string_view file, std::string_view stream, MinidumpInfo& info) {
  if (stream.size() < md::kMemory64HeaderSize) return "memory64 list stream is shorter than its header";
  const std::uint64_t count = Le64(stream, 0);
  std::uint64_t rva = Le64(stream, 8);
  if (count > (stream.size() - md::kMemory64HeaderSize) / md::kMemoryDescriptorSize) {
    return "memory64 list of " + std::to_string(stream.size()) + " bytes cannot hold its " +
           std::to_string(count) + " ranges";
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::string_view entry =
        stream.substr(static_cast<std::size_t>(md::kMemory64HeaderSize + i * md::kMemoryDescriptorSize),
                      md::kMemoryDescriptorSize);
    const std::uint64_t size = Le64(entry, 8);
    const std::optional<std::string_view> bytes = Slice(file, rva, size);
    if (!bytes) return Beyond("memory64 range " + std::to_string(i), rva, size);
    info.memory.push_back(MemoryRegion{Le64(entry, 0), *bytes});
    rva += size;
  }
  return {};
}

// Reads the streams kxdumpinfo shows, each from the first stream of its type.
std::string ReadKnownStreams(std::string_view file, MinidumpInfo& info) {
  bool memoryList = false;
  bool memory64List = false;
  for (const DumpStream& entry : info.streams) {
    const std::string_view stream = file.substr(entry.rva, entry.size);  // checked with the directory
    std::string error;
    if (entry.type == md::kExceptionStream && !info.exception) {
      error = ReadException(file, stream, info.exception.emplace());
    } else if (entry.type == md::kModuleListStream && !info.modules) {
      error = ReadModules(file, stream, info.modules.emplace());
    } else if (entry.type == md::kSystemInfoStream && !info.systemInfo) {
      error = ReadSystemInfo(file, stream, info.systemInfo.emplace());
    } else if (entry.type == md::kThreadListStream && !info.threads) {
      error = ReadThreads(file, stream, info);
    } else if (entry.type == md::kMemoryListStream && !memoryList) {
      memoryList = true;
      error = ReadMemoryList(file, stream, info);
    } else if (entry.type == md::kMemory64ListStream && !memory64List) {
      memory64List = true;
      error = ReadMemory64List(file, stream, info);
    }
    if (!error.empty()) return error;
  }
  return {};
}

}  // namespace

MinidumpParse ParseMinidump(std::string_view bytes) {
  MinidumpParse result;
  MinidumpInfo& info = result.info;
  if (bytes.size() < md::kHeaderSize) {
    result.error = "shorter than a minidump header (" + std::to_string(bytes.size()) + " bytes)";
    return result;
  }
  if (Le32(bytes, md::kHeaderSignature) != md::kSignature) {
    result.error = "no \"MDMP\" signature";
    return result;
  }
  info.fileSize = bytes.size();
  info.version = Le32(bytes, md::kHeaderVersion);
  info.timeDateStamp = Le32(bytes, md::kHeaderTimeDateStamp);
  info.flags = Le64(bytes, md::kHeaderFlags);

  const std::uint32_t count = Le32(bytes, md::kHeaderStreamCount);
  const std::uint32_t directoryRva = Le32(bytes, md::kHeaderDirectoryRva);
  const std::optional<std::string_view> directory =
      Slice(bytes, directoryRva, std::uint64_t{count} * md::kDirectoryEntrySize);
  if (!directory) {
    result.error = Beyond("stream directory of " + std::to_string(count) + " entries", directoryRva,
                          std::uint64_t{count} * md::kDirectoryEntrySize);
    return result;
  }
  info.streams.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = i * md::kDirectoryEntrySize;
    const DumpStream entry{Le32(*directory, at + md::kDirectoryType),
                           Le32(*directory, at + md::kDirectoryRva),
                           Le32(*directory, at + md::kDirectoryDataSize)};
    if (!Slice(bytes, entry.rva, entry.size)) {
      result.error = Beyond("stream " + std::to_string(i) + " (type " + std::to_string(entry.type) + ")",
                            entry.rva, entry.size);
      return result;
    }
    info.streams.push_back(entry);
  }
  result.error = ReadKnownStreams(bytes, info);
  return result;
}

}  // namespace kx
