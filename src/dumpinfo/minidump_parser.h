// Reads what kxdumpinfo shows out of the raw bytes of a minidump file. Nothing in the file is trusted: every
// RVA and size is checked against the bytes given before anything is read there, and a file that points
// outside itself is refused as a whole rather than shown in part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stackwalk/memory_regions.h"
#include "stackwalk/module_identity.h"

namespace kx {

struct DumpStream {
  std::uint32_t type = 0;
  std::uint32_t rva = 0;
  std::uint32_t size = 0;
};

struct DumpRegister {
  const char* name;  // static text: "RAX" ... "RIP", "EFLAGS"
  std::uint64_t value;
  std::uint32_t bytes;  // 8, or 4 for EFLAGS
};

// Read and write faults (access violation, in-page error) say which access failed and where.
struct DumpFaultAccess {
  std::uint64_t kind = 0;  // 0 read, 1 write, 8 execute (data execution prevention)
  std::uint64_t address = 0;
};

struct DumpException {
  std::uint32_t threadId = 0;
  std::uint32_t code = 0;
  std::uint32_t flags = 0;
  std::uint64_t address = 0;
  std::vector<std::uint64_t> parameters;  // ExceptionInformation[0 .. NumberParameters)
  std::optional<DumpFaultAccess> access;
  std::vector<DumpRegister> registers;  // empty when the thread context is not an x64 CONTEXT
  std::string_view context;             // the thread context's bytes, as in the file
};

struct DumpModule {
  std::uint64_t base = 0;
  std::uint32_t size = 0;
  std::uint32_t timeDateStamp = 0;
  std::optional<std::uint64_t> fileVersion;  // a.b.c.d as four 16-bit parts, high to low
  std::u16string name;                       // as stored: UTF-16, not checked for well-formedness
  std::optional<CodeViewRecord> codeView;    // when the dump holds the module's RSDS record
};

struct DumpThread {
  std::uint32_t id = 0;
  MemoryRegion stack;        // the stack's memory the dump holds (none: empty bytes)
  std::string_view context;  // the thread context's bytes, as in the file
};

struct DumpSystemInfo {
  std::uint16_t architecture = 0;  // PROCESSOR_ARCHITECTURE_*
  std::uint16_t processorLevel = 0;
  std::uint16_t processorRevision = 0;
  std::uint8_t processorCount = 0;
  std::uint8_t productType = 0;  // 1 workstation, 2 domain controller, 3 server
  std::uint32_t majorVersion = 0;
  std::uint32_t minorVersion = 0;
  std::uint32_t buildNumber = 0;
  std::uint32_t platformId = 0;
  std::u16string servicePack;
};

struct MinidumpInfo {
  std::uint64_t fileSize = 0;
  std::uint32_t version = 0;  // low half MINIDUMP_VERSION, high half the writer's own
  std::uint32_t timeDateStamp = 0;
  std::uint64_t flags = 0;          // MINIDUMP_TYPE the writer was asked for
  std::vector<DumpStream> streams;  // the directory, in file order
  // Each from the first stream of its type; nothing (or no modules) when the dump has none.
  std::optional<DumpException> exception;
  std::optional<std::vector<DumpModule>> modules;
  std::optional<DumpSystemInfo> systemInfo;
  std::optional<std::vector<DumpThread>> threads;
  std::vector<MemoryRegion> memory;  // every range of the memory lists and the threads' stacks
};

struct MinidumpParse {
  MinidumpInfo info;  // meaningful only when error is empty
  std::string error;  // why the bytes are refused, in a few words; empty when they were read
};

// The views of the result (contexts, memory) point into `bytes`, which must outlive it.
MinidumpParse ParseMinidump(std::string_view bytes);

}  // namespace kx
