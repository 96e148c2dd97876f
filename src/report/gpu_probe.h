// Asks WMI for the machine's video controllers (class Win32_VideoController) and gives one gpuinfo line per
// controller. COM is initialised in the multithreaded apartment for the length of the call.
#pragma once

#include <functional>
#include <string>

namespace kx {

// Gets each line in WMI's order; returns false to end the list there.
using GpuLineSink = std::function<bool(const std::wstring& line)>;

// Gives nothing when COM, the WMI service or the query fails; a controller whose properties cannot be read
// still gets its line, with those attributes empty. Never waits for WMI without a time limit per controller;
// starting and connecting to WMI have no limit here (ReportProbes bounds the whole).
void CollectGpuInfo(const GpuLineSink& add);
// Appends every line.
void CollectGpuInfo(std::wstring& collector);

}  // namespace kx
