// The few POSIX file calls the store makes, each behind an owner or a function that says whether it worked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kx::server {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset();

 private:
  int fd_ = -1;
};

bool WriteAll(int fd, std::string_view bytes);
// Up to `most` bytes; fewer only at the end of the file. Nothing read and false on an error.
bool ReadSome(int fd, std::string& into, std::size_t most);
// The folder's entries (a new or renamed file among them) reach the disk.
bool SyncFolder(const std::string& folder);
bool MakeFolders(const std::string& folder);
std::string RandomToken();

}  // namespace kx::server
