#include "web/secrets.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>
#include <vector>

#include "wire/digest.h"

namespace kx::server::web {
namespace {

// 16 MiB and about 0.1 s a hash: dear for a guesser, cheap for a login.
constexpr std::uint64_t kCost = 1 << 14, kBlock = 8, kParallel = 1;
constexpr std::size_t kSaltBytes = 16, kHashBytes = 32;

std::string Hex(const unsigned char* bytes, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t at = 0; at < size; ++at) {
    out += kDigits[bytes[at] >> 4];
    out += kDigits[bytes[at] & 15];
  }
  return out;
}

std::vector<unsigned char> Unhex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (std::size_t at = 0; at + 1 < hex.size(); at += 2) bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(at, 2), nullptr, 16)));
  return bytes;
}

std::vector<unsigned char> Scrypt(std::string_view password, const std::vector<unsigned char>& salt,
                                  std::uint64_t cost, std::uint64_t block, std::uint64_t parallel) {
  std::vector<unsigned char> hash(kHashBytes);
  if (EVP_PBE_scrypt(password.data(), password.size(), salt.data(), salt.size(), cost, block, parallel,
                     64ull << 20, hash.data(), hash.size()) != 1)
    throw std::runtime_error("scrypt failed");
  return hash;
}

std::vector<unsigned char> RandomBytes(std::size_t size) {
  std::vector<unsigned char> bytes(size);
  if (RAND_bytes(bytes.data(), static_cast<int>(size)) != 1) throw std::runtime_error("no random bytes");
  return bytes;
}

}  // namespace

std::string HashPassword(std::string_view password) {
  const std::vector<unsigned char> salt = RandomBytes(kSaltBytes);
  const std::vector<unsigned char> hash = Scrypt(password, salt, kCost, kBlock, kParallel);
  return "scrypt$" + std::to_string(kCost) + "$" + std::to_string(kBlock) + "$" + std::to_string(kParallel) + "$" +
         Hex(salt.data(), salt.size()) + "$" + Hex(hash.data(), hash.size());
}

bool PasswordMatches(std::string_view password, const std::string& stored) {
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = stored.find('$', start);
    parts.push_back(stored.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (parts.size() != 6 || parts[0] != "scrypt" || parts[5].size() != 2 * kHashBytes) return false;
  try {
    const std::vector<unsigned char> hash = Scrypt(password, Unhex(parts[4]), std::stoull(parts[1]),
                                                   std::stoull(parts[2]), std::stoull(parts[3]));
    return SameSecret(Hex(hash.data(), hash.size()), parts[5]);
  } catch (const std::exception&) {
    return false;
  }
}

std::string RandomToken() {
  const std::vector<unsigned char> bytes = RandomBytes(32);
  return Hex(bytes.data(), bytes.size());
}

std::string TokenKey(std::string_view token) { return Sha256Hex(token); }

bool SameSecret(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace kx::server::web
