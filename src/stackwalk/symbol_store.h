// Where a module's files lie in a symbol store folder, in the layout symbol servers use (docs/symbols.md):
// NAME/CODEID/NAME for the image, keyed by its time stamp and size; NAME/DEBUGID/NAME for the image that
// carries the debug information (for a stripped module, its unstripped build); PDBNAME/DEBUGID/PDBNAME for a
// PDB; and NAME alone, for a folder that holds modules flat. Names come from dumps, which may be hostile:
// a name that could leave the folder (or break the symbolizer's input line) gives no path at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stackwalk/module_identity.h"
#include "stackwalk/pe_image.h"

namespace kx {

struct ModuleKey {
  std::string name;  // the module's path or file name, as the dump or the report gives it
  std::uint32_t timeDateStamp = 0;
  std::uint32_t sizeOfImage = 0;
  std::optional<CodeViewRecord> codeView;  // when the dump (or report) carries the debug id
};

// The file name as it may be used in a path: empty for an empty name, "." or "..", or one holding a
// separator, a colon, a double quote or a control character.
std::string SafeStoreName(std::string_view name);

// The image's paths relative to a store folder, the most exact first: keyed by the debug id (the file with
// the debug information), by the code id, then flat (as given, then in lower case).
std::vector<std::string> ImageCandidates(const ModuleKey& module);

// The PDB's path relative to a store folder, when the module's CodeView record names one.
std::optional<std::string> PdbCandidate(const ModuleKey& module);

// Whether `image` is this very build of the module: the same debug id when the module has one (stripping
// changes the code id, not the debug id), else the same code id. A file of another build never names a frame.
bool MatchesModule(const PeImage& image, const ModuleKey& module);

}  // namespace kx
