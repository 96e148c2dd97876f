// ParseMinidump reads dump files that may be truncated or hostile; what it accepts, both outputs of
// kxdumpinfo show, the JSON one as a document a parser reads.
#include "dumpinfo/dump_format.h"
#include "dumpinfo/minidump_parser.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const kx::MinidumpParse parse = kx::ParseMinidump(kx::fuzz::Bytes(data, size));
  if (!parse.error.empty()) return 0;
  kx::FormatDumpText(parse.info);
  const std::optional<kx::fuzz::JsonValue> json = kx::fuzz::JsonReader::Parse(kx::FormatDumpJson(parse.info));
  KX_FUZZ_CHECK(json && json->kind == kx::fuzz::JsonValue::Kind::kObject);
  return 0;
}
