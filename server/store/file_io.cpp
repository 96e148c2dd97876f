#include "store/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace kx::server {

void UniqueFd::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool ReadSome(int fd, std::string& into, std::size_t most) {
  into.resize(most);
  std::size_t filled = 0;
  while (filled < most) {
    const ssize_t got = ::read(fd, into.data() + filled, most - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      into.clear();
      return false;
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  into.resize(filled);
  return true;
}

bool SyncFolder(const std::string& folder) {
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.valid() && ::fsync(fd.get()) == 0;
}

bool MakeFolders(const std::string& folder) {
  for (std::size_t at = 1; at <= folder.size(); ++at) {
    if (at != folder.size() && folder[at] != '/') continue;
    if (::mkdir(folder.substr(0, at).c_str(), 0750) != 0 && errno != EEXIST) return false;
  }
  return true;
}

std::string RandomToken() {
  static thread_local std::random_device device;
  static const char kDigits[] = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 4; ++i) {
    std::uint32_t word = device();
    for (int nibble = 0; nibble < 8; ++nibble, word >>= 4) token.push_back(kDigits[word & 0xF]);
  }
  return token;
}

}  // namespace kx::server
