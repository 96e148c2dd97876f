// Module identity read from another process's memory: the code and debug ids of the binaryImage lines, and
// the CodeView records a minidump writer left out (dump_codeview.h). The minidump writer's module callback
// hands over no CodeView record under Wine, and the list without a dump has none at all.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "report/module_list.h"

namespace kx {

// The raw CodeView record of the module loaded at `base` in `process`; empty when it has none or its headers
// cannot be read.
std::string ReadCodeViewRecord(HANDLE process, std::uint64_t base);

// The module's time stamp and CodeView record, as far as its headers can be read.
BinaryImageIds ReadModuleIds(HANDLE process, std::uint64_t base);

// Adds the missing CodeView records to the dump just written in `dumpFile` (opened for reading and writing)
// from the modules still loaded in `process`. False when a write failed; the dump is then as its writer left
// it, or has records no entry points at.
bool AddCodeViewRecords(HANDLE dumpFile, HANDLE process);

}  // namespace kx
