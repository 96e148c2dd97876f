#include "symbolize/symbol_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <utility>

namespace kx {
namespace {

bool IsFile(const std::string& path) {
  struct stat status = {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

std::string IdentityText(const ModuleKey& module) {
  std::string name(FileNameOfPath(module.name));
  for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return name + "/" + CodeIdText(module.timeDateStamp, module.sizeOfImage) + "/" +
         (module.codeView ? DebugIdText(*module.codeView) : std::string());
}

SymbolFiles::SymbolFiles(std::vector<std::string> folders, std::size_t capacity)
    : folders_(std::move(folders)), capacity_(std::max<std::size_t>(capacity, 1)) {}

std::shared_ptr<const FoundSymbols> SymbolFiles::Search(const ModuleKey& module) const {
  const std::vector<std::string> candidates = ImageCandidates(module);
  const std::optional<std::string> pdb = PdbCandidate(module);
  for (const std::string& candidate : candidates) {
    for (const std::string& folder : folders_) {
      auto found = std::make_shared<FoundSymbols>();
      found->imagePath = folder + "/" + candidate;
      if (!IsFile(found->imagePath) || found->file.Open(found->imagePath) != 0) continue;
      std::optional<PeImage> image = PeImage::Parse(found->file.bytes(), PeLayout::kFile);
      if (!image || !MatchesModule(*image, module)) continue;
      found->image = std::move(*image);
      for (const std::string& pdbFolder : folders_) {
        if (pdb && found->pdbPath.empty() && IsFile(pdbFolder + "/" + *pdb))
          found->pdbPath = pdbFolder + "/" + *pdb;
      }
      return found;
    }
  }
  return nullptr;
}

std::shared_ptr<const FoundSymbols> SymbolFiles::Find(const ModuleKey& module) {
  const std::string identity = IdentityText(module);
  auto entry = entries_.find(identity);
  if (entry == entries_.end()) {
    if (entries_.size() >= capacity_) {
      entries_.erase(std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
        return a.second.lastUse < b.second.lastUse;
      }));
    }
    entry = entries_.emplace(identity, Entry{Search(module), 0}).first;
  }
  entry->second.lastUse = ++uses_;
  return entry->second.found;
}

}  // namespace kx
