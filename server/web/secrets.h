// Passwords and session tokens. A password is kept as a salted scrypt hash (OpenSSL), slow and memory-hard
// so that a stolen store does not give passwords away cheaply; it is compared in constant time. Tokens are
// random bytes from OpenSSL's generator; the store keeps only their SHA-256, so a read of the store gives no
// session away.
#pragma once

#include <string>
#include <string_view>

namespace kx::server::web {

// "scrypt$N$r$p$SALT$HASH" (hexadecimal salt and hash).
std::string HashPassword(std::string_view password);
bool PasswordMatches(std::string_view password, const std::string& stored);

// 32 random bytes as 64 hexadecimal digits.
std::string RandomToken();
std::string TokenKey(std::string_view token);  // what the store keeps of a token

// Constant time in the length of `a`.
bool SameSecret(std::string_view a, std::string_view b);

}  // namespace kx::server::web
