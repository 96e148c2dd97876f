#include "wire/digest.h"

#include <openssl/evp.h>

#include <stdexcept>

#include "common/hex_text.h"

namespace kx::server {

struct Sha256::State {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (state_->context == nullptr || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 is not available");
}

Sha256::~Sha256() = default;

void Sha256::Add(std::string_view bytes) { EVP_DigestUpdate(state_->context, bytes.data(), bytes.size()); }

std::string Sha256::Hex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(state_->context, digest, &length);
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) AppendHex(hex, digest[i], 2, false);
  return hex;
}

std::string Sha256Hex(std::string_view bytes) {
  Sha256 digest;
  digest.Add(bytes);
  return digest.Hex();
}

}  // namespace kx::server
