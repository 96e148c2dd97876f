// The unwinder against the platform's own: for every function of the modules loaded here (MinGW-w64 code in
// this program, Wine's ntdll, kernelbase, kernel32 and msvcrt), stopped at each step of its prolog and at
// each epilogue, UnwindFrame must give the caller's registers that RtlVirtualUnwind gives, on the same stack.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "stackwalk/x64_unwind.h"

namespace kx {
namespace {

constexpr std::size_t kStackBytes = 1 << 20;

// Where to stop in a function: its start, the end of each prolog step (byte 1 of the unwind information is
// the prolog's size, byte 2 the count of code slots; a slot's first byte is a step's end, or an operand,
// which within the prolog is a stop as good as any), and the start of each epilogue: the pops and stack
// adjustment just before a ret.
std::vector<std::uint32_t> StopsIn(const std::uint8_t* base, const RUNTIME_FUNCTION& function) {
  const std::uint8_t* info = base + function.UnwindData;
  std::vector<std::uint32_t> stops = {function.BeginAddress, function.BeginAddress + info[1]};
  for (std::uint8_t i = 0; i < info[2]; ++i) {
    if (info[4 + 2 * i] <= info[1]) stops.push_back(function.BeginAddress + info[4 + 2 * i]);
  }
  for (std::uint32_t at = function.BeginAddress + info[1]; at < function.EndAddress; ++at) {
    if (base[at] != 0xC3) continue;
    std::uint32_t start = at;
    // Pops, but not of rsp, which no epilogue pops (and the two unwinders read differently).
    while (start > function.BeginAddress + 1 && base[start - 1] >= 0x58 && base[start - 1] <= 0x5F) {
      const bool extended = base[start - 2] == 0x41;
      if (base[start - 1] == 0x5C && !extended) break;
      start -= extended ? 2 : 1;
    }
    if (start >= function.BeginAddress + 4 && base[start - 4] == 0x48 && base[start - 3] == 0x83 &&
        base[start - 2] == 0xC4) {
      start -= 4;
    }
    stops.push_back(start);
  }
  return stops;
}

TEST(UnwindPlatformTest, EveryFunctionUnwindsAsTheSystemUnwindsIt) {
  std::vector<std::uint64_t> stack(kStackBytes / 8);
  const auto stackBase = reinterpret_cast<std::uint64_t>(stack.data());
  // Every slot and register points into the stack, so that whatever a step reads lies within it.
  for (std::size_t i = 0; i < stack.size(); ++i)
    stack[i] = stackBase + 0x1000 + (i * 0x58) % (kStackBytes / 2);
  const MemoryRegions memory(
      {MemoryRegion{stackBase, std::string_view(reinterpret_cast<const char*>(stack.data()), kStackBytes)}});
  std::size_t compared = 0;
  for (const wchar_t* name : {static_cast<const wchar_t*>(nullptr), L"ntdll.dll", L"kernelbase.dll",
                              L"kernel32.dll", L"msvcrt.dll"}) {
    const auto* base = reinterpret_cast<const std::uint8_t*>(::GetModuleHandleW(name));
    ASSERT_NE(nullptr, base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const std::optional<PeImage> image =
        PeImage::Parse(std::string_view(reinterpret_cast<const char*>(base), nt->OptionalHeader.SizeOfImage),
                       PeLayout::kMapped);
    ASSERT_TRUE(image);
    for (std::size_t index = 0; index < image->FunctionCount(); ++index) {
      const std::optional<RuntimeFunction> entry = image->FunctionByIndex(index);
      const auto* function = reinterpret_cast<const RUNTIME_FUNCTION*>(
          base + image->exceptionDirectory().rva + index * sizeof(RUNTIME_FUNCTION));
      if (function->UnwindData & 1) continue;
      for (const std::uint32_t stop : StopsIn(base, *function)) {
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_FULL;
        X64Registers ours;
        for (int reg = 0; reg < 16; ++reg) {
          const std::uint64_t value = stackBase + kStackBytes / 4 + 0x100 * static_cast<std::uint64_t>(reg);
          (&context.Rax)[reg] = value;
          ours.Set(reg, value);
        }
        context.Rip = ours.rip = reinterpret_cast<std::uint64_t>(base) + stop;
        if (UnwindFrame(*image, reinterpret_cast<std::uint64_t>(base), memory, ours) !=
            UnwindStep::kUnwound) {
          continue;  // it needs memory beyond this stack; the system's unwinder would read there blindly
        }
        void* handlerData = nullptr;
        DWORD64 frame = 0;
        ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, reinterpret_cast<std::uint64_t>(base), context.Rip,
                           const_cast<RUNTIME_FUNCTION*>(function), &context, &handlerData, &frame, nullptr);
        SCOPED_TRACE(testing::Message()
                     << (name ? std::string(name, name + wcslen(name)) : "this program") << " function "
                     << std::hex << entry->begin << " stopped at " << stop);
        EXPECT_EQ(context.Rip, ours.rip);
        for (int reg = 0; reg < 16; ++reg)
          EXPECT_EQ((&context.Rax)[reg], ours.gpr[reg]) << "register " << reg;
        ++compared;
        if (HasFailure()) return;
      }
    }
  }
  EXPECT_GT(compared, 10000u);
}

}  // namespace
}  // namespace kx
