// A second process for the preference store tests: runs one store operation and writes its result to a file.
//   prefs_probe guid OUTPUT       the installation GUID
//   prefs_probe read-all OUTPUT   every stored preference, one "name<TAB>text<LF>" per entry
#include <cstdio>
#include <string>

#include "common/text_utils.h"
#include "prefs/preference_store.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const std::wstring command = argv[1];
  std::string output;
  if (command == L"guid") {
    output = kx::narrowByTruncation(kx::PreferenceStore::getInstallationGuid());
  } else if (command == L"read-all") {
    for (const auto& [name, text] : kx::PreferenceStore::readAllPreferences()) output += name + '\t' + text + '\n';
  } else {
    return 2;
  }
  FILE* file = ::_wfopen(argv[2], L"wb");
  if (file == nullptr) return 3;
  const bool written = std::fwrite(output.data(), 1, output.size(), file) == output.size();
  return std::fclose(file) == 0 && written ? 0 : 3;
}
