// Whether a file-system entry exists, with "cannot tell" kept apart from "absent": the state of a report and
// the presence of the ingest folder are read from the file system, and an error must not pass for absence.
#pragma once

#include <string>

namespace kx {

enum class Presence {
  kPresent,  // a file or a folder
  kAbsent,   // file or path not found, bad network path, invalid name
  kUnknown,  // any other failure, such as access denied or a name the system cannot resolve
};

Presence TestPresence(const std::wstring& path);

}  // namespace kx
