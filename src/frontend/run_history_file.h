// The run history's file (run_history.h): <storage root>\runs-<program file name>, one per application.
// The crashed application and its reporter both change it: each change reads the file, applies, and writes
// it back whole under a mutex of the user's session, so neither loses the other's update.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "frontend/run_history.h"

namespace kx {

// The file of this program; empty when there is no storage folder.
std::wstring RunHistoryPathOfThisProgram();

// Reads the file (a missing or unreadable one as an empty history), lets `change` update it and writes it
// back. False when it could not be written, or the mutex not taken within a few seconds.
bool UpdateRunHistory(const std::wstring& path, const std::function<void(RunHistory&)>& change);

// The run history's clock: seconds since 1970, UTC.
std::int64_t RunHistoryNow();

}  // namespace kx
