#include "support/base64_text.h"

#include <cstdint>

namespace kx::test {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string EncodeBase64(const void* bytes, std::size_t size) {
  const auto* in = static_cast<const unsigned char*>(bytes);
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  for (std::size_t i = 0; i < size; i += 3) {
    const std::size_t left = size - i;
    std::uint32_t group = static_cast<std::uint32_t>(in[i]) << 16;
    if (left > 1) group |= static_cast<std::uint32_t>(in[i + 1]) << 8;
    if (left > 2) group |= in[i + 2];
    out.push_back(kAlphabet[(group >> 18) & 63]);
    out.push_back(kAlphabet[(group >> 12) & 63]);
    out.push_back(left > 1 ? kAlphabet[(group >> 6) & 63] : '=');
    out.push_back(left > 2 ? kAlphabet[group & 63] : '=');
  }
  return out;
}

}  // namespace kx::test
