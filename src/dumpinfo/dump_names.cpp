#include "dumpinfo/dump_names.h"

#include <cstddef>

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

constexpr NamedNumber kExceptionNames[] = {
    {0x40010005u, "DBG_CONTROL_C"},
    {0x406D1388u, "MS_VC_EXCEPTION (thread name)"},
    {0x80000001u, "EXCEPTION_GUARD_PAGE"},
    {0x80000002u, "EXCEPTION_DATATYPE_MISALIGNMENT"},
    {0x80000003u, "EXCEPTION_BREAKPOINT"},
    {0x80000004u, "EXCEPTION_SINGLE_STEP"},
    {0xC0000005u, "EXCEPTION_ACCESS_VIOLATION"},
    {0xC0000006u, "EXCEPTION_IN_PAGE_ERROR"},
    {0xC0000008u, "EXCEPTION_INVALID_HANDLE"},
    {0xC0000017u, "STATUS_NO_MEMORY"},
    {0xC000001Du, "EXCEPTION_ILLEGAL_INSTRUCTION"},
    {0xC0000025u, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
    {0xC0000026u, "EXCEPTION_INVALID_DISPOSITION"},
    {0xC000008Cu, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008Du, "EXCEPTION_FLT_DENORMAL_OPERAND"},
    {0xC000008Eu, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
    {0xC000008Fu, "EXCEPTION_FLT_INEXACT_RESULT"},
    {0xC0000090u, "EXCEPTION_FLT_INVALID_OPERATION"},
    {0xC0000091u, "EXCEPTION_FLT_OVERFLOW"},
    {0xC0000092u, "EXCEPTION_FLT_STACK_CHECK"},
    {0xC0000093u, "EXCEPTION_FLT_UNDERFLOW"},
    {0xC0000094u, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {0xC0000095u, "EXCEPTION_INT_OVERFLOW"},
    {0xC0000096u, "EXCEPTION_PRIV_INSTRUCTION"},
    {0xC00000FDu, "EXCEPTION_STACK_OVERFLOW"},
    {0xC0000135u, "STATUS_DLL_NOT_FOUND"},
    {0xC0000139u, "STATUS_ENTRYPOINT_NOT_FOUND"},
    {0xC0000194u, "EXCEPTION_POSSIBLE_DEADLOCK"},
    {0xC00002B4u, "STATUS_FLOAT_MULTIPLE_FAULTS"},
    {0xC00002B5u, "STATUS_FLOAT_MULTIPLE_TRAPS"},
    {0xC0000374u, "STATUS_HEAP_CORRUPTION"},
    {0xC0000409u, "STATUS_STACK_BUFFER_OVERRUN (fail fast)"},
    {0xC0000417u, "STATUS_INVALID_CRUNTIME_PARAMETER"},
    {0xC0000420u, "STATUS_ASSERTION_FAILURE"},
    {0xC0000602u, "STATUS_FAIL_FAST_EXCEPTION"},
    {0xE0434352u, ".NET exception"},
    {0xE06D7363u, "C++ exception"},
};

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

const char* DumpExceptionName(std::uint32_t code) { return Find(kExceptionNames, code); }
const char* DumpStreamTypeName(std::uint32_t type) { return Find(kStreamNames, type); }
const char* DumpArchitectureName(std::uint16_t architecture) {
  return Find(kArchitectureNames, architecture);
}
const char* DumpAccessKindName(std::uint64_t kind) { return Find(kAccessKindNames, kind); }

}  // namespace kx
