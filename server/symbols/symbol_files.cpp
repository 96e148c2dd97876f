#include "symbols/symbol_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>

#include <nlohmann/json.hpp>

#include "stackwalk/pe_image.h"
#include "stackwalk/symbol_store.h"
#include "store/file_io.h"
#include "symbolize/mapped_file.h"

namespace kx::server {
namespace {

bool SyncPath(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  return fd.valid() && ::fsync(fd.get()) == 0;
}

}  // namespace

std::vector<StoredSymbolFile> ListSymbolFiles(const std::string& storeFolder) {
  std::vector<StoredSymbolFile> files;
  std::error_code error;
  for (auto entry = std::filesystem::recursive_directory_iterator(storeFolder, error);
       !error && entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
    if (entry.depth() == 2 && entry->is_regular_file(error))
      files.push_back({std::filesystem::relative(entry->path(), storeFolder, error).string(), entry->file_size(error)});
  }
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  return files;
}

std::vector<MissingModule> MissingModules(const std::vector<std::string>& readings) {
  std::map<std::pair<std::string, std::string>, std::int64_t> counts;
  for (const std::string& reading : readings) {
    const nlohmann::json root = nlohmann::json::parse(reading, nullptr, false);
    const auto modules = root.is_object() ? root.find("modules") : root.end();
    if (!root.is_object() || modules == root.end() || !modules->is_array()) continue;
    for (const nlohmann::json& module : *modules) {
      if (!module.is_object() || module.value("in_store", nlohmann::json()) != false) continue;
      const std::string debugId = module.value("debug_id", nlohmann::json()).is_string() ? module["debug_id"].get<std::string>() : "";
      const std::string codeId = module.value("code_id", nlohmann::json()).is_string() ? module["code_id"].get<std::string>() : "";
      const std::string name = module.value("name", nlohmann::json()).is_string() ? module["name"].get<std::string>() : "";
      ++counts[{std::string(FileNameOfPath(name)), debugId.empty() ? codeId : debugId}];
    }
  }
  std::vector<MissingModule> missing;
  for (const auto& [key, dumps] : counts) missing.push_back({key.first, key.second, dumps});
  std::stable_sort(missing.begin(), missing.end(), [](const auto& a, const auto& b) { return a.dumps > b.dumps; });
  return missing;
}

std::string IncomingPath(const std::string& storeFolder) {
  std::random_device random;
  return storeFolder + "/.incoming-" + std::to_string(random()) + std::to_string(random());
}

StoredSymbols PlaceSymbolFile(const std::string& storeFolder, const std::string& name, const std::string& incoming) {
  StoredSymbols stored;
  const std::string safe = SafeStoreName(name);
  MappedFile file;
  std::string why;
  std::optional<PeImage> image;
  if (safe.empty()) {
    stored.error = "the file name cannot be a name in the store";
  } else if (file.Open(incoming) != 0 || !(image = PeImage::Parse(file.bytes(), PeLayout::kFile, &why))) {
    stored.error = "not a 64-bit PE image (" + why + "): give the unstripped module as built";
  }
  if (!stored.error.empty()) {
    ::unlink(incoming.c_str());
    return stored;
  }
  if (const std::optional<CodeViewRecord> codeView = image->CodeView()) stored.ids.push_back(DebugIdText(*codeView));
  stored.ids.push_back(CodeIdText(image->timeDateStamp(), image->sizeOfImage()));
  for (const std::string& id : stored.ids) {
    const std::string folder = storeFolder + "/" + safe + "/" + id;
    const std::string path = folder + "/" + safe;
    stored.paths.push_back(safe + "/" + id + "/" + safe);
    if (::access(path.c_str(), F_OK) == 0) continue;
    // A link, not a copy: both places hold one file; link() never replaces a file another upload placed.
    if (!MakeFolders(folder) || (::link(incoming.c_str(), path.c_str()) != 0 && errno != EEXIST)) {
      stored.error = "cannot write " + path;
      break;
    }
    SyncPath(path);
    SyncPath(folder);
    stored.added = true;
  }
  ::unlink(incoming.c_str());
  return stored;
}

}  // namespace kx::server
