// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks): what a crash handler sends for the
// register context and the exception record of a crash. Test side only; the service has its own decoder.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kx::test {

std::string EncodeBase64(const void* bytes, std::size_t size);

// Strict: the text must be whole groups of four, padded as EncodeBase64 pads. Nothing when it is not.
std::optional<std::string> DecodeBase64(std::string_view text);

}  // namespace kx::test
