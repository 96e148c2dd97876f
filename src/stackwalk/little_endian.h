// Numbers and pieces out of bytes that came from outside: a minidump, an image file, another process's
// memory. Every offset is checked against the bytes before anything is read there, in 64-bit arithmetic so
// that an offset near 4 GiB plus a size cannot wrap around to a small one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kx {

// The bytes [at, at + size) of `bytes`, or nothing when they are not all inside it.
inline std::optional<std::string_view> SliceOf(std::string_view bytes, std::uint64_t at, std::uint64_t size) {
  if (at > bytes.size() || size > bytes.size() - at) return std::nullopt;
  return bytes.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(size));
}

// A little-endian number at an offset the caller has already checked to lie inside `bytes`.
inline std::uint64_t LittleEndianAt(std::string_view bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}
inline std::uint16_t Le16At(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(LittleEndianAt(bytes, at, 2));
}
inline std::uint32_t Le32At(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(LittleEndianAt(bytes, at, 4));
}
inline std::uint64_t Le64At(std::string_view bytes, std::size_t at) { return LittleEndianAt(bytes, at, 8); }

}  // namespace kx
