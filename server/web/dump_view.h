// The part of the dump reader's JSON (docs/kxdumpinfo.md) the pages show: each thread's frames, how each
// was found and the functions named at it. Read leniently: a key missing or of another type is left empty.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx::server::web {

struct FunctionView {
  std::string name, file;
  std::int64_t line = 0;  // 0: unknown
};

struct FrameView {
  std::string address, module, offset, trust;
  std::vector<FunctionView> functions;  // innermost inlined one first; empty when not named
};

struct ThreadView {
  std::int64_t id = 0;
  bool crashed = false;
  std::vector<FrameView> frames;
};

struct DumpView {
  std::string exception, signature;
  std::vector<ThreadView> threads;  // the crashed one first, as the reader writes them
};

// Nothing when the text is not a JSON object.
std::optional<DumpView> ReadDumpView(const std::string& json);

}  // namespace kx::server::web
