#include "dumpinfo/dump_names.h"

#include <cstddef>

#include "common/exception_names.h"

namespace kx {
namespace {

struct NamedNumber {
  std::uint32_t number;
  const char* name;
};

template <std::size_t N>
const char* Find(const NamedNumber (&table)[N], std::uint64_t number) {
  for (const NamedNumber& entry : table) {
    if (entry.number == number) return entry.name;
  }
  return nullptr;
}

constexpr NamedNumber kStreamNames[] = {
    {0, "UnusedStream"},
    {1, "ReservedStream0"},
    {2, "ReservedStream1"},
    {3, "ThreadListStream"},
    {4, "ModuleListStream"},
    {5, "MemoryListStream"},
    {6, "ExceptionStream"},
    {7, "SystemInfoStream"},
    {8, "ThreadExListStream"},
    {9, "Memory64ListStream"},
    {10, "CommentStreamA"},
    {11, "CommentStreamW"},
    {12, "HandleDataStream"},
    {13, "FunctionTableStream"},
    {14, "UnloadedModuleListStream"},
    {15, "MiscInfoStream"},
    {16, "MemoryInfoListStream"},
    {17, "ThreadInfoListStream"},
    {18, "HandleOperationListStream"},
    {19, "TokenStream"},
    {20, "JavaScriptDataStream"},
    {21, "SystemMemoryInfoStream"},
    {22, "ProcessVmCountersStream"},
    {23, "IptTraceStream"},
    {24, "ThreadNamesStream"},
    {0x8000, "ceStreamNull"},
    {0x8001, "ceStreamSystemInfo"},
    {0x8002, "ceStreamException"},
    {0x8003, "ceStreamModuleList"},
    {0x8004, "ceStreamProcessList"},
    {0x8005, "ceStreamThreadList"},
    {0x8006, "ceStreamThreadContextList"},
    {0x8007, "ceStreamThreadCallStackList"},
    {0x8008, "ceStreamMemoryVirtualList"},
    {0x8009, "ceStreamMemoryPhysicalList"},
    {0x800A, "ceStreamBucketParameters"},
    {0x800B, "ceStreamProcessModuleMap"},
    {0x800C, "ceStreamDiagnosisList"},
};

constexpr NamedNumber kArchitectureNames[] = {
    {0, "x86"},           {5, "ARM"}, {6, "IA64"}, {9, "AMD64"}, {12, "ARM64"}, {13, "ARM32 on Win64"},
    {14, "x86 on ARM64"},
};

constexpr NamedNumber kAccessKindNames[] = {{0, "read"}, {1, "write"}, {8, "execute"}};

}  // namespace

const char* DumpExceptionName(std::uint32_t code) { return ExceptionName(code); }
const char* DumpStreamTypeName(std::uint32_t type) { return Find(kStreamNames, type); }
const char* DumpArchitectureName(std::uint16_t architecture) {
  return Find(kArchitectureNames, architecture);
}
const char* DumpAccessKindName(std::uint64_t kind) { return Find(kAccessKindNames, kind); }

}  // namespace kx
