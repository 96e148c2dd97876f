#include "dumpinfo/dump_stacks.h"

#include <optional>
#include <utility>

#include "dumpinfo/dump_format.h"

namespace kx {
namespace {

ThreadStack WalkOne(std::uint32_t id, bool crashed, std::string_view context, const MemoryRegions& memory,
                    const ModuleMap& map, DumpStacks& stacks, StackSymbols& symbols) {
  ThreadStack thread{id, crashed, {}};
  const std::optional<X64Registers> registers = RegistersOfContext(context);
  if (!registers) return thread;
  for (const WalkedFrame& walked : WalkThread(*registers, memory, map)) {
    NamedFrame frame{walked, walked.address, {}};
    if (walked.module != ModuleMap::kNone) {
      frame.offset = walked.address - map[walked.module].base;
      // A return address lies one past its call: the call itself is looked up.
      const std::uint64_t lookup =
          walked.trust == FrameTrust::kContext || frame.offset == 0 ? frame.offset : frame.offset - 1;
      frame.names = symbols.Names(stacks.modules[walked.module], lookup);
    }
    thread.frames.push_back(std::move(frame));
  }
  return thread;
}

CrashSignature SignatureOf(const ThreadStack& thread, const DumpStacks& stacks) {
  std::vector<SignatureFrame> frames;
  for (const NamedFrame& frame : thread.frames) {
    SignatureFrame signature;
    if (frame.walked.module != ModuleMap::kNone) signature.module = stacks.modules[frame.walked.module].name;
    signature.offset = frame.offset;
    if (!frame.names.empty()) signature.function = frame.names.front().function;
    frames.push_back(std::move(signature));
  }
  return ComputeCrashSignature(frames);
}

}  // namespace

DumpStacks WalkDump(const MinidumpInfo& info, StackSymbols& symbols) {
  DumpStacks stacks;
  std::vector<WalkModule> walkModules;
  for (const DumpModule& module : info.modules.value_or(std::vector<DumpModule>())) {
    ModuleKey key{DisplayText(module.name), module.timeDateStamp, module.size, module.codeView};
    const PeImage* image = symbols.Image(key);
    walkModules.push_back(WalkModule{module.base, module.size, image});
    stacks.moduleImages.push_back(image != nullptr);
    stacks.modules.push_back(std::move(key));
  }
  const ModuleMap map(std::move(walkModules));
  const MemoryRegions memory(info.memory);
  const std::vector<DumpThread> none;
  const std::vector<DumpThread>& threads = info.threads ? *info.threads : none;

  if (info.exception) {
    stacks.threads.push_back(
        WalkOne(info.exception->threadId, true, info.exception->context, memory, map, stacks, symbols));
  }
  for (const DumpThread& thread : threads) {
    if (info.exception && thread.id == info.exception->threadId) continue;
    if (stacks.threads.size() == kMostThreadsWalked) {
      ++stacks.threadsLeftOut;
      continue;
    }
    stacks.threads.push_back(WalkOne(thread.id, false, thread.context, memory, map, stacks, symbols));
  }
  stacks.signature = info.exception ? SignatureOf(stacks.threads.front(), stacks) : ComputeCrashSignature({});
  return stacks;
}

}  // namespace kx
