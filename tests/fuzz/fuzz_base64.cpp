// DecodeBase64 reads the crash context texts of the message. Any text into a buffer of any capacity must
// stay inside it; and what the handler encodes decodes back to the same bytes.
#include <vector>

#include "common/base64.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text = kx::fuzz::Bytes(data + 1, size - 1);
  // Exactly the capacity asked for, so that the sanitizer sees any write beyond it.
  std::vector<unsigned char> out(data[0]);
  std::size_t count = out.size();
  const bool fits = kx::DecodeBase64(text, out.data(), count);
  KX_FUZZ_CHECK(count <= out.size());
  KX_FUZZ_CHECK(!fits || count <= text.size() * 3 / 4);

  const std::string encoded = kx::EncodeBase64(text.data(), text.size());
  std::vector<unsigned char> decoded(text.size());
  count = decoded.size();
  KX_FUZZ_CHECK(kx::DecodeBase64(encoded, decoded.data(), count));
  KX_FUZZ_CHECK(count == text.size() &&
                std::string_view(reinterpret_cast<const char*>(decoded.data()), count) == text);
  return 0;
}
