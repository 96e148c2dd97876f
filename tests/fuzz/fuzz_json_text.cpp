// EscapeJsonString: any UTF-16 text, escaped and read back by a JSON parser, is the same text, and the
// escaped form is plain ASCII.
#include "common/json_text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring text = kx::fuzz::Utf16Units(kx::fuzz::Bytes(data, size));
  const std::string escaped = kx::EscapeJsonString(text);
  const std::optional<kx::fuzz::JsonValue> read = kx::fuzz::JsonReader::Parse("\"" + escaped + "\"");
  KX_FUZZ_CHECK(read && read->text == text);
  return 0;
}
