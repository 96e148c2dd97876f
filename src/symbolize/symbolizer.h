// Names code in one build of a module: function, file and line, inlined frames included, from the module's
// files in a symbol store (docs/symbols.md), through kxsymbolizer (LLVM 14's symbolizer library) in a child
// process the Symbolizer owns. It reads the DWARF of MinGW-w64 builds and the PDB of MSVC builds. What it
// answers is kept per module identity and offset, so asking again costs a lookup. Missing or unfit symbols
// give no frames, never another function's name. Calls from several threads are taken one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "stackwalk/symbol_store.h"
#include "symbolize/symbol_files.h"
#include "symbolize/symbolizer_answer.h"
#include "symbolize/symbolizer_process.h"

namespace kx {

class Symbolizer {
 public:
  struct Options {
    std::vector<std::string> symbolFolders;  // searched in order
    std::string program;                     // the path of kxsymbolizer (built with this library)
    int answerLimitMs = 10000;               // for one address; a file that takes longer is not asked again
    std::size_t cachedAnswers = 1 << 20;     // answers kept before the cache starts afresh; 0 keeps none
    std::string scratchFolder = "/tmp";      // where a folder pairing images with their PDBs is made
  };

  explicit Symbolizer(Options options);
  Symbolizer(const Symbolizer&) = delete;
  Symbolizer& operator=(const Symbolizer&) = delete;
  ~Symbolizer();  // ends the child process and removes the scratch folder

  // The frames at `offset` from the module's load address. Frame 0 of a stack is looked up at its own
  // offset; every other frame, a return address, at its offset less one (inside its call).
  std::vector<SourceFrame> Symbolize(const ModuleKey& module, std::uint64_t offset);

  // The module's files in the store (its image, for unwinding), or null.
  std::shared_ptr<const FoundSymbols> Files(const ModuleKey& module);

 private:
  std::string PathForSymbolizer(const ModuleKey& module, const FoundSymbols& found);
  void RemoveScratch();

  Options options_;
  std::mutex mutex_;
  SymbolFiles files_;
  SymbolizerProcess process_;
  std::unordered_map<std::string, std::vector<SourceFrame>> answers_;
  std::unordered_set<std::string> failing_;              // modules whose files the symbolizer choked on
  std::unordered_map<std::string, std::string> paired_;  // module identity -> image path beside its PDB
  std::string scratch_;                                  // made on first need
  std::vector<std::string> scratchEntries_;
};

}  // namespace kx
