#include "stackwalk/symbol_store.h"

namespace kx {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower;
}

std::string Keyed(const std::string& name, const std::string& key) { return name + "/" + key + "/" + name; }

}  // namespace

std::string SafeStoreName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return {};
  for (const char c : name) {
    if (c == '/' || c == '\\' || c == ':' || c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      return {};
  }
  return std::string(name);
}

std::vector<std::string> ImageCandidates(const ModuleKey& module) {
  const std::string name = SafeStoreName(FileNameOfPath(module.name));
  if (name.empty()) return {};
  std::vector<std::string> paths;
  if (module.codeView) paths.push_back(Keyed(name, DebugIdText(*module.codeView)));
  paths.push_back(Keyed(name, CodeIdText(module.timeDateStamp, module.sizeOfImage)));
  paths.push_back(name);
  if (Lower(name) != name) paths.push_back(Lower(name));
  return paths;
}

std::optional<std::string> PdbCandidate(const ModuleKey& module) {
  if (!module.codeView) return std::nullopt;
  const std::string name = SafeStoreName(FileNameOfPath(module.codeView->pdbPath));
  if (name.empty()) return std::nullopt;
  return Keyed(name, DebugIdText(*module.codeView));
}

bool MatchesModule(const PeImage& image, const ModuleKey& module) {
  if (module.codeView) {
    const std::optional<CodeViewRecord> own = image.CodeView();
    return own && own->guid == module.codeView->guid && own->age == module.codeView->age;
  }
  return image.timeDateStamp() == module.timeDateStamp && image.sizeOfImage() == module.sizeOfImage;
}

}  // namespace kx
