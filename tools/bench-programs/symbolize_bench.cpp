// kx_symbolize_bench (Linux): symbolicating the frames of demo dumps, warm, against llvm-symbolizer alone on
// the same addresses (the floor); then how many application frames are named, over every dump given. How to
// read it: docs/performance.md.
//   kx_symbolize_bench RUNS KXSYMBOLIZER LLVM-SYMBOLIZER --symbols DIR [--symbols DIR]... DUMP...
// The first dump is the one timed. Prints each run and the median and worst of each column.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench_text.h"
#include "dumpinfo/dump_stacks.h"
#include "dumpinfo/minidump_parser.h"
#include "stackwalk/crash_signature.h"
#include "symbolize/mapped_file.h"
#include "symbolize/symbolizer.h"

namespace {

double NowUs() {
  timespec now = {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// The store through a Symbolizer; every question asked is noted, so that the floor can be asked the same.
class Store : public kx::StackSymbols {
 public:
  explicit Store(kx::Symbolizer& symbolizer) : symbolizer_(symbolizer) {}
  const kx::PeImage* Image(const kx::ModuleKey& module) override {
    std::shared_ptr<const kx::FoundSymbols> found = symbolizer_.Files(module);
    if (found) kept_.push_back(found);
    return found ? &found->image : nullptr;
  }
  std::vector<kx::SourceFrame> Names(const kx::ModuleKey& module, std::uint64_t offset) override {
    if (std::shared_ptr<const kx::FoundSymbols> found = symbolizer_.Files(module)) {
      asked.push_back({module, offset, found->imagePath});
    }
    return symbolizer_.Symbolize(module, offset);
  }
  struct Question {
    kx::ModuleKey module;
    std::uint64_t offset;
    std::string path;
  };
  std::vector<Question> asked;

 private:
  kx::Symbolizer& symbolizer_;
  std::vector<std::shared_ptr<const kx::FoundSymbols>> kept_;
};

kx::Symbolizer::Options OptionsOf(const std::vector<std::string>& folders, const std::string& program,
                                  std::size_t cached) {
  kx::Symbolizer::Options options;
  options.symbolFolders = folders;
  options.program = program;
  options.cachedAnswers = cached;
  return options;
}

// Application frames named, over every thread of the dump.
void CountNamed(const kx::DumpStacks& stacks, int& application, int& named) {
  for (const kx::ThreadStack& thread : stacks.threads) {
    for (const kx::NamedFrame& frame : thread.frames) {
      kx::SignatureFrame signature;
      if (frame.walked.module != kx::ModuleMap::kNone)
        signature.module = stacks.modules[frame.walked.module].name;
      if (!frame.names.empty()) signature.function = frame.names.front().function;
      if (!kx::IsApplicationFrame(signature)) continue;
      ++application;
      named += !frame.names.empty();
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) {
    std::fprintf(stderr,
                 "usage: kx_symbolize_bench RUNS KXSYMBOLIZER LLVM-SYMBOLIZER --symbols DIR... DUMP...\n");
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  const std::string ours = argv[2], floor = argv[3];
  std::vector<std::string> folders, dumps;
  for (int i = 4; i < argc; ++i) {
    if (std::string(argv[i]) == "--symbols" && i + 1 < argc) {
      folders.push_back(argv[++i]);
    } else {
      dumps.push_back(argv[i]);
    }
  }
  int application = 0, named = 0;
  std::vector<Store::Question> questions;
  for (const std::string& path : dumps) {
    kx::MappedFile file;
    const kx::MinidumpParse parse =
        file.Open(path) == 0 ? kx::ParseMinidump(file.bytes()) : kx::MinidumpParse{};
    if (file.bytes().empty() || !parse.error.empty()) {
      std::fprintf(stderr, "cannot read the dump %s\n", path.c_str());
      return 1;
    }
    kx::Symbolizer symbolizer(OptionsOf(folders, ours, 1 << 20));
    Store store(symbolizer);
    const kx::DumpStacks stacks = kx::WalkDump(parse.info, store);
    CountNamed(stacks, application, named);
    if (questions.empty()) questions = store.asked;
  }

  // Warm: each child has answered every question once before the timed runs.
  kx::Symbolizer cached(OptionsOf(folders, ours, 1 << 20));
  kx::Symbolizer uncached(OptionsOf(folders, ours, 0));
  kx::SymbolizerProcess plain({floor, "--relative-address", "--output-style=JSON"}, 10000);
  std::vector<double> floorUs, uncachedUs, cachedUs;
  std::printf(
      "the %zu addresses of %s, warm, in microseconds\nrun  llvm-symbolizer  kxsymbolizer  answers kept\n",
      questions.size(), dumps.front().c_str());
  for (int run = -1; run < runs; ++run) {
    // The floor and kxsymbolizer take turns at going first, so that the order favours neither.
    double floorRun = 0, uncachedRun = 0;
    for (int turn = 0; turn < 2; ++turn) {
      const double start = NowUs();
      if ((turn == 0) == (run % 2 == 0)) {
        for (const Store::Question& q : questions) {
          char offset[32];
          std::snprintf(offset, sizeof(offset), " 0x%llx", static_cast<unsigned long long>(q.offset));
          if (!plain.Ask("\"" + q.path + "\"" + offset)) return 1;
        }
        floorRun = NowUs() - start;
      } else {
        for (const Store::Question& q : questions) uncached.Symbolize(q.module, q.offset);
        uncachedRun = NowUs() - start;
      }
    }
    const double start = NowUs();
    for (const Store::Question& q : questions) cached.Symbolize(q.module, q.offset);
    const double cachedRun = NowUs() - start;
    if (run < 0) continue;
    floorUs.push_back(floorRun);
    uncachedUs.push_back(uncachedRun);
    cachedUs.push_back(cachedRun);
    std::printf("%3d  %15.0f  %12.0f  %12.1f\n", run + 1, floorRun, uncachedRun, cachedRun);
  }
  const auto worst = [](const std::vector<double>& values) {
    return *std::max_element(values.begin(), values.end());
  };
  std::printf("med  %15.0f  %12.0f  %12.1f\n", kx::Median(floorUs), kx::Median(uncachedUs),
              kx::Median(cachedUs));
  std::printf("max  %15.0f  %12.0f  %12.1f\n", worst(floorUs), worst(uncachedUs), worst(cachedUs));
  std::printf("median over median: kxsymbolizer %.2f x llvm-symbolizer, answers kept %.4f x\n",
              kx::Median(uncachedUs) / kx::Median(floorUs), kx::Median(cachedUs) / kx::Median(floorUs));
  std::printf("application frames named over %zu dumps: %d of %d (%.1f %%)\n", dumps.size(), named,
              application, application ? 100.0 * named / application : 0.0);
  return 0;
}
