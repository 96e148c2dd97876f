// Symbols sent to kxserver (by HTTP or `kxserver admin ... symbols add`) go into a symbol store folder in the
// layout kxdumpinfo reads (docs/symbols.md): an unstripped module at NAME/DEBUGID/NAME, found by the debug
// id that stripping keeps, and at NAME/CODEID/NAME for dumps without CodeView records. The file is read as a
// PE image first: what is not one, or names no build, is refused. Written once: a file already there stays.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kx::server {

struct StoredSymbols {
  std::string error;              // empty when stored
  std::vector<std::string> ids;   // the build's ids: the debug id (when it has one), then the code id
  std::vector<std::string> paths; // relative to the store folder
  bool added = false;             // false: the store had this build already
};

// Moves the file at `incoming` (a file inside `storeFolder`, so that a rename places it) into its places
// for the module named `name`, and syncs them. The incoming file is gone when it returns.
StoredSymbols PlaceSymbolFile(const std::string& storeFolder, const std::string& name, const std::string& incoming);

// A new file name inside the store folder for a body on its way in ("FOLDER/.incoming-RANDOM").
std::string IncomingPath(const std::string& storeFolder);

// What the store holds: each NAME/ID/NAME file with its size.
struct StoredSymbolFile {
  std::string path;
  std::uint64_t size = 0;
};
std::vector<StoredSymbolFile> ListSymbolFiles(const std::string& storeFolder);

// From the dump reader's JSON of many dumps: the modules it found no symbols for, the most often first.
struct MissingModule {
  std::string name, id;  // the debug id, else the code id
  std::int64_t dumps = 0;
};
std::vector<MissingModule> MissingModules(const std::vector<std::string>& readings);

}  // namespace kx::server
