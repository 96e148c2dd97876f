#include "report/base64.h"

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
