#include "symbolize/symbolizer.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "common/hex_text.h"

namespace kx {

Symbolizer::Symbolizer(Options options)
    : options_(std::move(options)),
      files_(options_.symbolFolders),
      process_({options_.program}, options_.answerLimitMs) {}

Symbolizer::~Symbolizer() { RemoveScratch(); }

void Symbolizer::RemoveScratch() {
  for (const std::string& entry : scratchEntries_) ::unlink(entry.c_str());
  for (auto it = scratchEntries_.rbegin(); it != scratchEntries_.rend(); ++it) ::rmdir(it->c_str());
  if (!scratch_.empty()) ::rmdir(scratch_.c_str());
  scratchEntries_.clear();
  scratch_.clear();
}

std::shared_ptr<const FoundSymbols> Symbolizer::Files(const ModuleKey& module) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return files_.Find(module);
}

// LLVM finds a PDB beside the image under the name the image's CodeView record gives, while a store
// keeps the two apart (NAME/CODEID/NAME, PDBNAME/DEBUGID/PDBNAME): a folder of links pairs them.
std::string Symbolizer::PathForSymbolizer(const ModuleKey& module, const FoundSymbols& found) {
  if (found.pdbPath.empty()) return found.imagePath;
  const std::string identity = IdentityText(module);
  if (auto known = paired_.find(identity); known != paired_.end()) return known->second;
  const std::optional<CodeViewRecord> record = found.image.CodeView();
  const std::string pdbName = record ? SafeStoreName(FileNameOfPath(record->pdbPath)) : std::string();
  const std::string imageName = SafeStoreName(FileNameOfPath(module.name));
  if (pdbName.empty() || imageName.empty()) return found.imagePath;
  if (scratch_.empty()) {
    std::string pattern = options_.scratchFolder + "/kx-symbolizer-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return found.imagePath;
    scratch_ = pattern;
  }
  const std::string folder = scratch_ + "/" + std::to_string(paired_.size());
  if (::mkdir(folder.c_str(), 0700) != 0) return found.imagePath;
  scratchEntries_.push_back(folder);
  const std::string image = folder + "/" + imageName;
  const std::string pdb = folder + "/" + pdbName;
  if (::symlink(found.imagePath.c_str(), image.c_str()) == 0) scratchEntries_.push_back(image);
  if (::symlink(found.pdbPath.c_str(), pdb.c_str()) == 0) scratchEntries_.push_back(pdb);
  return paired_[identity] = image;
}

std::vector<SourceFrame> Symbolizer::Symbolize(const ModuleKey& module, std::uint64_t offset) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::string identity = IdentityText(module);
  std::string key = identity + "@";
  AppendHex(key, offset, 1, false);
  if (auto known = answers_.find(key); known != answers_.end()) return known->second;

  std::vector<SourceFrame> frames;
  const std::shared_ptr<const FoundSymbols> found = files_.Find(module);
  const std::string path = found ? PathForSymbolizer(module, *found) : std::string();
  // A path that would break the question's line is never asked about.
  if (found && offset < found->image.sizeOfImage() && failing_.count(identity) == 0 &&
      path.find_first_of("\"\n") == std::string::npos) {
    std::string question = "\"" + path + "\" 0x";
    AppendHex(question, offset, 1, false);
    const std::optional<std::string> line = process_.Ask(question);
    const std::optional<SymbolizerAnswer> answer = line ? ParseSymbolizerAnswer(*line) : std::nullopt;
    if (answer) {
      frames = TrustedFrames(*answer, found->image, static_cast<std::uint32_t>(offset));
    } else {
      failing_.insert(identity);
    }
  }
  if (options_.cachedAnswers == 0) return frames;
  if (answers_.size() >= options_.cachedAnswers) answers_.clear();
  answers_.emplace(std::move(key), frames);
  return frames;
}

}  // namespace kx
