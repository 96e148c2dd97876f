#include "symbolize/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kx {

MappedFile::MappedFile(MappedFile&& other) noexcept
    : address_(std::exchange(other.address_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Release();
    address_ = std::exchange(other.address_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

MappedFile::~MappedFile() { Release(); }

void MappedFile::Release() {
  if (address_ != nullptr) ::munmap(address_, size_);
  address_ = nullptr;
  size_ = 0;
}

int MappedFile::Open(const std::string& path) {
  Release();
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return errno;
  struct stat status = {};
  int error = 0;
  if (::fstat(file, &status) != 0) {
    error = errno;
  } else if (!S_ISREG(status.st_mode)) {
    error = EISDIR;
  } else if (status.st_size > 0) {
    // The mapping stays valid after the descriptor is closed. A file cut shorter meanwhile ends the reader
    // with SIGBUS; dumps and symbol files are written whole before they are read.
    void* address =
        ::mmap(nullptr, static_cast<std::size_t>(status.st_size), PROT_READ, MAP_PRIVATE, file, 0);
    if (address == MAP_FAILED) {
      error = errno;
    } else {
      address_ = address;
      size_ = static_cast<std::size_t>(status.st_size);
    }
  }
  ::close(file);
  return error;
}

}  // namespace kx
