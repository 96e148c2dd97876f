// Asks WMI for the machine's video controllers (class Win32_VideoController) and appends one gpuinfo line per
// controller. COM is initialised in the multithreaded apartment for the length of the call.
#pragma once

#include <string>

namespace kx {

// Appends nothing when COM, the WMI service or the query fails; a controller whose properties cannot be read
// still gets its line, with those attributes empty. Never waits for WMI without a time limit per controller.
void CollectGpuInfo(std::wstring& collector);

}  // namespace kx
