#include "common/exception_names.h"

namespace kx {
namespace {

struct NamedCode {
  std::uint32_t code;
  const char* name;
  // The report's name for it: nullptr when the report's DTD does not list it, "" when it is `name`.
  const char* reportName;
};

constexpr NamedCode kExceptionNames[] = {
    {0x40010005u, "DBG_CONTROL_C", nullptr},
    {0x406D1388u, "MS_VC_EXCEPTION (thread name)", nullptr},
    {0x80000001u, "EXCEPTION_GUARD_PAGE", ""},
    {0x80000002u, "EXCEPTION_DATATYPE_MISALIGNMENT", ""},
    {0x80000003u, "EXCEPTION_BREAKPOINT", ""},
    {0x80000004u, "EXCEPTION_SINGLE_STEP", ""},
    {0xC0000005u, "EXCEPTION_ACCESS_VIOLATION", ""},
    {0xC0000006u, "EXCEPTION_IN_PAGE_ERROR", ""},
    {0xC0000008u, "EXCEPTION_INVALID_HANDLE", ""},
    {0xC0000017u, "STATUS_NO_MEMORY", nullptr},
    {0xC000001Du, "EXCEPTION_ILLEGAL_INSTRUCTION", ""},
    {0xC0000025u, "EXCEPTION_NONCONTINUABLE_EXCEPTION", ""},
    {0xC0000026u, "EXCEPTION_INVALID_DISPOSITION", ""},
    {0xC000008Cu, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED", ""},
    {0xC000008Du, "EXCEPTION_FLT_DENORMAL_OPERAND", ""},
    {0xC000008Eu, "EXCEPTION_FLT_DIVIDE_BY_ZERO", ""},
    {0xC000008Fu, "EXCEPTION_FLT_INEXACT_RESULT", ""},
    {0xC0000090u, "EXCEPTION_FLT_INVALID_OPERATION", ""},
    {0xC0000091u, "EXCEPTION_FLT_OVERFLOW", ""},
    {0xC0000092u, "EXCEPTION_FLT_STACK_CHECK", ""},
    {0xC0000093u, "EXCEPTION_FLT_UNDERFLOW", ""},
    {0xC0000094u, "EXCEPTION_INT_DIVIDE_BY_ZERO", ""},
    {0xC0000095u, "EXCEPTION_INT_OVERFLOW", ""},
    {0xC0000096u, "EXCEPTION_PRIV_INSTRUCTION", ""},
    {0xC00000FDu, "EXCEPTION_STACK_OVERFLOW", ""},
    {0xC0000135u, "STATUS_DLL_NOT_FOUND", nullptr},
    {0xC0000139u, "STATUS_ENTRYPOINT_NOT_FOUND", nullptr},
    {0xC0000194u, "EXCEPTION_POSSIBLE_DEADLOCK", nullptr},
    {0xC00002B4u, "STATUS_FLOAT_MULTIPLE_FAULTS", nullptr},
    {0xC00002B5u, "STATUS_FLOAT_MULTIPLE_TRAPS", nullptr},
    {0xC0000374u, "STATUS_HEAP_CORRUPTION", "EXCEPTION_HEAP_CORRUPTION"},
    {0xC0000409u, "STATUS_STACK_BUFFER_OVERRUN (fail fast)", nullptr},
    {0xC0000417u, "STATUS_INVALID_CRUNTIME_PARAMETER", nullptr},
    {0xC0000420u, "STATUS_ASSERTION_FAILURE", nullptr},
    {0xC0000602u, "STATUS_FAIL_FAST_EXCEPTION", nullptr},
    {0xE0434352u, ".NET exception", nullptr},
    {0xE06D7363u, "C++ exception", nullptr},
};

const NamedCode* Find(std::uint32_t code) {
  for (const NamedCode& entry : kExceptionNames) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

}  // namespace

const char* ExceptionName(std::uint32_t code) {
  const NamedCode* entry = Find(code);
  return entry != nullptr ? entry->name : nullptr;
}

const char* ReportExceptionName(std::uint32_t code) {
  const NamedCode* entry = Find(code);
  if (entry == nullptr || entry->reportName == nullptr) return "EXCEPTION_UNKNOWN";
  return *entry->reportName != '\0' ? entry->reportName : entry->name;
}

}  // namespace kx
