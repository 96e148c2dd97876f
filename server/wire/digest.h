// SHA-256 through OpenSSL: what identifies a report's text and what proves a stored file whole.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace kx::server {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Add(std::string_view bytes);
  // Lower-case hexadecimal digest of everything added; the object is spent afterwards.
  std::string Hex();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

std::string Sha256Hex(std::string_view bytes);

}  // namespace kx::server
