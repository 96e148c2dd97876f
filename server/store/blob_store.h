// Where an upload's bytes go: written to a spool file as they arrive (a fixed buffer, whatever the size),
// then kept where they stay. With SQLite they stay as files in the data folder, synced and moved into place
// before the row that names them is committed; with PostgreSQL they stay in the database, in chunks written
// in the row's own transaction, so that an instance keeps nothing of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/database.h"
#include "store/file_io.h"
#include "wire/digest.h"

namespace kx::server {

class Spool {
 public:
  Spool(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {
    buffer_.reserve(kBufferBytes + kPieceBytes);
  }
  ~Spool();
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  // False once a write failed (a full disk): the upload cannot be stored.
  bool Add(std::string_view bytes);
  bool Flush();

  std::uint64_t size() const { return size_; }
  std::string DigestHex() { return digest_.Hex(); }
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  // The file now belongs to the blob store (moved into place): the spool no longer removes it.
  void Settled() { path_.clear(); }

 private:
  static constexpr std::size_t kBufferBytes = 256 * 1024;
  static constexpr std::size_t kPieceBytes = 16 * 1024;  // what one read of a request body gives at most
  UniqueFd fd_;
  std::string path_;  // removed with the spool unless settled; empty for an anonymous file
  std::string buffer_;
  std::uint64_t size_ = 0;
  Sha256 digest_;
  bool failed_ = false;
};

class BlobStore {
 public:
  virtual ~BlobStore() = default;

  virtual std::unique_ptr<Spool> NewSpool() = 0;
  // Before the row's transaction: the bytes made durable where they stay. Returns the name the row keeps;
  // throws when they cannot be.
  virtual std::string Settle(Spool& spool) = 0;
  // Inside the transaction that inserts the row of upload `id`.
  virtual void Keep(Sql& sql, std::int64_t id, Spool& spool) = 0;
  // A settled blob whose row was not committed (a duplicate, a failed transaction).
  virtual void Forget(const std::string& blob) = 0;

  // The bytes, in pieces of a bounded size, to `sink` (which may stop early by returning false). False when
  // the blob cannot be read.
  virtual bool Read(Database& database, std::int64_t id, const std::string& blob,
                    const std::function<bool(std::string_view)>& sink) = 0;

  // Removal: inside the transaction that deletes the row, then once it is committed.
  virtual void Remove(Sql& sql, std::int64_t id) = 0;
  virtual void RemoveAfterCommit(const std::string& blob) = 0;

  // A file holding the blob's bytes as they are stored, or empty when they are not kept as a file.
  virtual std::string LocalPath(const std::string& blob) const = 0;

  // Blobs no row names (a process killed after the bytes were kept and before the row was committed), kept
  // before `before` (seconds since 1970; later ones may be an upload whose row is being committed): their
  // names, removed too unless `dryRun`.
  virtual std::vector<std::string> Orphans(Database& database, std::int64_t before, bool dryRun) = 0;
};

// Files under `folder` (the data folder's "files"); spools whatever an earlier run left in it are removed.
std::unique_ptr<BlobStore> MakeFileBlobs(const std::string& folder);
// Chunks in the database; spools are anonymous files in `spoolFolder`.
std::unique_ptr<BlobStore> MakeChunkBlobs(const std::string& spoolFolder);

}  // namespace kx::server
