// The files of a symbol store on disk: one or more folders, searched in order, in the layout of
// stackwalk/symbol_store.h. Each module's image is looked up once per identity, checked to be the module's
// very build, and kept mapped while the store holds it.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "stackwalk/pe_image.h"
#include "stackwalk/symbol_store.h"
#include "symbolize/mapped_file.h"

namespace kx {

struct FoundSymbols {
  std::string imagePath;  // the module's image: the one with the debug information when the store has it
  std::string pdbPath;    // its PDB, when the image names one and the store has it; else empty
  MappedFile file;        // the image's bytes, which `image` reads
  PeImage image;
};

class SymbolFiles {
 public:
  // At most `capacity` modules are kept; the ones looked up longest ago go first.
  explicit SymbolFiles(std::vector<std::string> folders, std::size_t capacity = 4096);

  // This build's files, or null when no folder has them. Shared, so that a module in use stays mapped when
  // the store lets it go.
  std::shared_ptr<const FoundSymbols> Find(const ModuleKey& module);

 private:
  std::shared_ptr<const FoundSymbols> Search(const ModuleKey& module) const;

  struct Entry {
    std::shared_ptr<const FoundSymbols> found;  // null: looked up, not there
    std::size_t lastUse = 0;
  };
  std::vector<std::string> folders_;
  std::size_t capacity_;
  std::size_t uses_ = 0;
  std::map<std::string, Entry> entries_;  // by the module's identity
};

// The text that tells two builds of a module apart: its file name in lower case, code id and debug id.
std::string IdentityText(const ModuleKey& module);

}  // namespace kx
