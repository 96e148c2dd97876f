// The parts of the minidump file format that kxdumpinfo reads, as byte offsets and sizes: every structure is
// little-endian and packed, and the file refers to its parts by RVA (an offset from the start of the file).
// Kept apart from <dbghelp.h> so that the parser builds on any platform and never casts file bytes to
// structures.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx::minidump {

// MINIDUMP_HEADER
inline constexpr std::uint32_t kSignature = 0x504D444Du;  // "MDMP" read as a little-endian number
inline constexpr std::size_t kHeaderSize = 32;
inline constexpr std::size_t kHeaderSignature = 0;
inline constexpr std::size_t kHeaderVersion = 4;
inline constexpr std::size_t kHeaderStreamCount = 8;
inline constexpr std::size_t kHeaderDirectoryRva = 12;
inline constexpr std::size_t kHeaderTimeDateStamp = 20;
inline constexpr std::size_t kHeaderFlags = 24;

// MINIDUMP_DIRECTORY: stream type, then the location (data size, RVA).
inline constexpr std::size_t kDirectoryEntrySize = 12;
inline constexpr std::size_t kDirectoryType = 0;
inline constexpr std::size_t kDirectoryDataSize = 4;
inline constexpr std::size_t kDirectoryRva = 8;

// Stream types (MINIDUMP_STREAM_TYPE) that the parser reads.
inline constexpr std::uint32_t kThreadListStream = 3;
inline constexpr std::uint32_t kModuleListStream = 4;
inline constexpr std::uint32_t kMemoryListStream = 5;
inline constexpr std::uint32_t kExceptionStream = 6;
inline constexpr std::uint32_t kSystemInfoStream = 7;
inline constexpr std::uint32_t kMemory64ListStream = 9;

// MINIDUMP_EXCEPTION_STREAM, with its MINIDUMP_EXCEPTION at offset 8 and the thread context's location last.
inline constexpr std::size_t kExceptionStreamSize = 168;
inline constexpr std::size_t kExceptionThreadId = 0;
inline constexpr std::size_t kExceptionCode = 8;
inline constexpr std::size_t kExceptionFlags = 12;
inline constexpr std::size_t kExceptionRecord = 16;
inline constexpr std::size_t kExceptionAddress = 24;
inline constexpr std::size_t kExceptionParameterCount = 32;
inline constexpr std::size_t kExceptionParameters = 40;
inline constexpr std::uint32_t kExceptionMaximumParameters = 15;
inline constexpr std::size_t kExceptionContextSize = 160;
inline constexpr std::size_t kExceptionContextRva = 164;

// The x64 CONTEXT. A smaller context (an x86 one is 716 bytes) is not read as registers.
inline constexpr std::size_t kAmd64ContextSize = 1232;

struct RegisterField {
  const char* name;
  std::size_t offset;
  std::size_t bytes;
};

// The general registers in the order they are printed.
inline constexpr RegisterField kAmd64Registers[] = {
    {"RAX", 0x78, 8}, {"RBX", 0x90, 8}, {"RCX", 0x80, 8},    {"RDX", 0x88, 8}, {"RSI", 0xA8, 8},
    {"RDI", 0xB0, 8}, {"RBP", 0xA0, 8}, {"RSP", 0x98, 8},    {"R8", 0xB8, 8},  {"R9", 0xC0, 8},
    {"R10", 0xC8, 8}, {"R11", 0xD0, 8}, {"R12", 0xD8, 8},    {"R13", 0xE0, 8}, {"R14", 0xE8, 8},
    {"R15", 0xF0, 8}, {"RIP", 0xF8, 8}, {"EFLAGS", 0x44, 4},
};

// MINIDUMP_MODULE_LIST: a count, then packed MINIDUMP_MODULE entries of 108 bytes.
inline constexpr std::size_t kModuleCountSize = 4;
inline constexpr std::size_t kModuleSize = 108;
inline constexpr std::size_t kModuleBase = 0;
inline constexpr std::size_t kModuleImageSize = 8;
inline constexpr std::size_t kModuleTimeDateStamp = 16;
inline constexpr std::size_t kModuleNameRva = 20;
// VS_FIXEDFILEINFO at offset 24: signature, structure version, then the file version's high and low halves.
inline constexpr std::size_t kModuleVersionSignature = 24;
inline constexpr std::size_t kModuleFileVersionHigh = 32;
inline constexpr std::size_t kModuleFileVersionLow = 36;
inline constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
// The CodeView record's location (MINIDUMP_LOCATION_DESCRIPTOR: size, then RVA) after VS_FIXEDFILEINFO.
inline constexpr std::size_t kModuleCodeViewSize = 76;
inline constexpr std::size_t kModuleCodeViewRva = 80;

// MINIDUMP_THREAD_LIST: a count, then MINIDUMP_THREAD entries of 48 bytes: the id, the stack's memory
// (start address, size, RVA) and the thread context's location (size, RVA).
inline constexpr std::size_t kThreadSize = 48;
inline constexpr std::size_t kThreadId = 0;
inline constexpr std::size_t kThreadStackStart = 24;
inline constexpr std::size_t kThreadStackSize = 32;
inline constexpr std::size_t kThreadStackRva = 36;
inline constexpr std::size_t kThreadContextSize = 40;
inline constexpr std::size_t kThreadContextRva = 44;

// MINIDUMP_MEMORY_LIST: a count, then descriptors of 16 bytes (start address, size, RVA).
inline constexpr std::size_t kMemoryDescriptorSize = 16;
// MINIDUMP_MEMORY64_LIST: a 64-bit count, the RVA where the ranges' bytes start one after the other, then
// descriptors of 16 bytes (start address, 64-bit size).
inline constexpr std::size_t kMemory64HeaderSize = 16;

// MINIDUMP_SYSTEM_INFO
inline constexpr std::size_t kSystemInfoSize = 56;
inline constexpr std::size_t kSystemArchitecture = 0;
inline constexpr std::size_t kSystemProcessorLevel = 2;
inline constexpr std::size_t kSystemProcessorRevision = 4;
inline constexpr std::size_t kSystemProcessorCount = 6;
inline constexpr std::size_t kSystemProductType = 7;
inline constexpr std::size_t kSystemMajorVersion = 8;
inline constexpr std::size_t kSystemMinorVersion = 12;
inline constexpr std::size_t kSystemBuildNumber = 16;
inline constexpr std::size_t kSystemPlatformId = 20;
inline constexpr std::size_t kSystemServicePackRva = 24;

// MINIDUMP_STRING: a byte length (without the terminating zero), then that many bytes of UTF-16.
inline constexpr std::size_t kStringLengthSize = 4;

}  // namespace kx::minidump
