// The client configuration file: any bytes give the same configuration however the file's reads cut them,
// and every stored pair follows the line rules.
#include "fuzz_support.h"
#include "prefs/client_config.h"
#include "common/text_utils.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes = kx::fuzz::Bytes(data + 1, size - 1);
  const kx::ClientConfig whole = kx::ParseClientConfig(bytes);

  // Fed in pieces of a length the first byte chooses.
  const std::size_t piece = data[0] % 16 + 1;
  kx::ClientConfigReader reader;
  for (std::size_t at = 0; at < bytes.size(); at += piece) reader.Feed(bytes.substr(at, piece));
  KX_FUZZ_CHECK(reader.Finish() == whole);

  for (const auto& [key, value] : whole) {
    KX_FUZZ_CHECK(!key.empty() && key == kx::TrimText(key) && !value.empty() && value == kx::TrimText(value));
    KX_FUZZ_CHECK(key.find_first_of("=\nABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos);
    KX_FUZZ_CHECK(key.size() < kx::kClientConfigLineLimit && value.size() < kx::kClientConfigLineLimit);
    kx::ConfiguredPort(whole, key);
  }
  return 0;
}
