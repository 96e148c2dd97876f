// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks): what a crash handler sends for the
// register context and the exception record of a crash. Test side only; the service has its own decoder.
#pragma once

#include <cstddef>
#include <string>

namespace kx::test {

std::string EncodeBase64(const void* bytes, std::size_t size);

}  // namespace kx::test
