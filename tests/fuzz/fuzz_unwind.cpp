// The stack walker on a hostile image and stack: the input is a 2-byte image length, the image (as a file),
// then the stack's bytes, whose first 16 give rip's offset in the image and rsp's in the stack. Whatever it
// meets, the walk ends within its bounds, every caller sits higher on the stack than its callee, and a caller
// found with the unwind tables lies in a module.
#include "fuzz_support.h"
#include "stackwalk/little_endian.h"
#include "stackwalk/thread_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t imageSize = std::min<std::size_t>(size - 2, data[0] | (data[1] << 8));
  const std::string_view image = kx::fuzz::Bytes(data + 2, imageSize);
  const std::string_view stack = kx::fuzz::Bytes(data + 2 + imageSize, size - 2 - imageSize);
  const std::optional<kx::PeImage> parsed = kx::PeImage::Parse(image, kx::PeLayout::kFile);
  if (!parsed || stack.size() < 16) return 0;
  constexpr std::uint64_t kImageBase = 0x140000000, kStackBase = 0x10000;
  const kx::ModuleMap modules({kx::WalkModule{kImageBase, parsed->sizeOfImage(), &*parsed}});
  const kx::MemoryRegions memory({kx::MemoryRegion{kStackBase, stack}});
  kx::X64Registers context;
  for (int reg = 0; reg < 16; ++reg) context.Set(reg, kStackBase + 8 * static_cast<std::uint64_t>(reg));
  context.rip = kImageBase + static_cast<std::uint32_t>(kx::Le32At(stack, 0));
  context.Set(kx::kRegisterRsp, kStackBase + (kx::Le32At(stack, 8) % stack.size()));
  const kx::WalkLimits limits{64, 256};
  const std::vector<kx::WalkedFrame> frames = kx::WalkThread(context, memory, modules, limits);
  KX_FUZZ_CHECK(frames.size() <= limits.maxFrames);
  for (std::size_t i = 1; i < frames.size(); ++i) {
    KX_FUZZ_CHECK(frames[i].stackPointer > frames[i - 1].stackPointer);
    KX_FUZZ_CHECK(frames[i].trust != kx::FrameTrust::kUnwindTables ||
                  frames[i].module != kx::ModuleMap::kNone);
  }
  return 0;
}
