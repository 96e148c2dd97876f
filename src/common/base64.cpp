#include "common/base64.h"

#include <cstdint>

namespace kx {
namespace {

int SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

class ByteSink {
 public:
  ByteSink(unsigned char* out, std::size_t capacity) : out_(out), capacity_(capacity) {}
  void Put(std::uint32_t byte) {
    if (produced_ < capacity_) {
      out_[produced_++] = static_cast<unsigned char>(byte & 0xFF);
    } else {
      overflowed_ = true;
    }
  }
  bool overflowed() const { return overflowed_; }
  std::size_t produced() const { return produced_; }

 private:
  unsigned char* out_;
  std::size_t capacity_;
  std::size_t produced_ = 0;
  bool overflowed_ = false;
};

}  // namespace

std::string EncodeBase64(const void* bytes, std::size_t size) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto* in = static_cast<const unsigned char*>(bytes);
  std::string text;
  text.reserve((size + 2) / 3 * 4);
  for (std::size_t i = 0; i < size; i += 3) {
    const std::size_t left = size - i;
    const std::uint32_t group = (std::uint32_t{in[i]} << 16) |
                                (left > 1 ? std::uint32_t{in[i + 1]} << 8 : 0u) |
                                (left > 2 ? std::uint32_t{in[i + 2]} : 0u);
    text.push_back(kAlphabet[(group >> 18) & 63]);
    text.push_back(kAlphabet[(group >> 12) & 63]);
    text.push_back(left > 1 ? kAlphabet[(group >> 6) & 63] : '=');
    text.push_back(left > 2 ? kAlphabet[group & 63] : '=');
  }
  return text;
}

bool DecodeBase64(std::string_view text, unsigned char* out, std::size_t& count) {
  ByteSink sink(out, count);
  std::uint32_t bits = 0;
  int sextets = 0;
  for (const char c : text) {
    if (c == '\0' && sextets == 0) break;
    const int sextet = SextetOf(c);
    if (sextet < 0) continue;
    bits = (bits << 6) | static_cast<std::uint32_t>(sextet);
    if (++sextets == 4) {
      sink.Put(bits >> 16);
      sink.Put(bits >> 8);
      sink.Put(bits);
      bits = 0;
      sextets = 0;
    }
  }
  if (sextets == 3) {
    sink.Put(bits >> 10);
    sink.Put(bits >> 2);
  } else if (sextets == 2) {
    sink.Put(bits >> 4);
  }
  count = sink.produced();
  return !sink.overflowed();
}

}  // namespace kx
