#include "handler/cpp_exception.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <typeinfo>

#if !defined(_MSC_VER)
#include <cxxabi.h>
#endif

#include "handler/fault_site_rule.h"

namespace kx {
namespace {

#if defined(_MSC_VER)
// MSVC names types "class std::runtime_error"; the keyword says nothing a reader needs.
const char* WithoutKeyword(const char* name) {
  for (const char* keyword : {"class ", "struct ", "union ", "enum "}) {
    const std::size_t length = std::strlen(keyword);
    if (std::strncmp(name, keyword, length) == 0) return name + length;
  }
  return name;
}

// The x64 layout of the throw information the compiler emits; every reference is an offset from the
// image base that the exception record carries.
struct ThrowInfo {
  std::uint32_t attributes;
  std::int32_t unwind;
  std::int32_t forwardCompat;
  std::int32_t catchableTypes;
};
struct CatchableType {
  std::uint32_t properties;
  std::int32_t type;  // a std::type_info
  std::int32_t memberOffset;
  std::int32_t virtualBaseTable;  // -1: the base is not virtual
  std::int32_t virtualBaseOffset;
  std::int32_t size;
  std::int32_t copyFunction;
};
constexpr ULONG_PTR kMsvcMagic = 0x19930520;
#else
void CopyDemangled(const char* mangled, char* destination, std::size_t capacity) {
  int status = 0;
  char* readable = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  CopyBoundedText(destination, capacity, readable != nullptr ? readable : mangled);
  std::free(readable);
}
#endif

}  // namespace

void DescribeCurrentException(CppExceptionText& text) {
  const std::exception_ptr current = std::current_exception();
  if (!current) return;
#if !defined(_MSC_VER)
  if (const std::type_info* type = abi::__cxa_current_exception_type())
    CopyDemangled(type->name(), text.type, sizeof(text.type));
#endif
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& exception) {
#if defined(_MSC_VER)
    CopyBoundedText(text.type, sizeof(text.type), WithoutKeyword(typeid(exception).name()));
#endif
    CopyBoundedText(text.what, sizeof(text.what), exception.what());
  } catch (...) {
    // Not a std::exception: it has no text.
  }
}

bool DescribeThrownException(const EXCEPTION_RECORD& record, CppExceptionText& text) {
#if defined(_MSC_VER)
  if (record.ExceptionCode != 0xE06D7363 || record.NumberParameters < 4 ||
      record.ExceptionInformation[0] != kMsvcMagic || record.ExceptionInformation[2] == 0) {
    return false;
  }
  const auto base = static_cast<std::uintptr_t>(record.ExceptionInformation[3]);
  const auto* info = reinterpret_cast<const ThrowInfo*>(record.ExceptionInformation[2]);
  const auto* types = reinterpret_cast<const std::int32_t*>(base + info->catchableTypes);
  // The first catchable type is the thrown type itself; the others are its bases.
  for (std::int32_t i = 0; i < types[0]; ++i) {
    const auto* catchable = reinterpret_cast<const CatchableType*>(base + types[1 + i]);
    const auto* type = reinterpret_cast<const std::type_info*>(base + catchable->type);
    if (i == 0) CopyBoundedText(text.type, sizeof(text.type), WithoutKeyword(type->name()));
    if (*type == typeid(std::exception) && catchable->virtualBaseTable < 0) {
      const auto object = static_cast<std::uintptr_t>(record.ExceptionInformation[1]);
      const auto* exception = reinterpret_cast<const std::exception*>(object + catchable->memberOffset);
      CopyBoundedText(text.what, sizeof(text.what), exception->what());
    }
  }
  return true;
#else
  (void)record;
  (void)text;
  return false;
#endif
}

}  // namespace kx
