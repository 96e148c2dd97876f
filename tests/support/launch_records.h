// The records that launch_recorder.exe leaves, one per start, in its record folder (its first word).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kx::test {

// The words a start was given after the recorder's own and the record folder.
using Launch = std::vector<std::wstring>;

// launch_recorder.exe next to the test program.
std::wstring LaunchRecorderPath();

// Every launch recorded in the folder so far, in start order.
std::vector<Launch> ReadLaunches(const std::wstring& recordFolder);
// Waits until at least `count` launches are recorded, or `limitMs` has passed; returns what there is.
std::vector<Launch> WaitForLaunchRecords(const std::wstring& recordFolder, size_t count, DWORD limitMs);

}  // namespace kx::test
