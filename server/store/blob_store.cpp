#include "store/blob_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <unordered_set>

namespace kx::server {
namespace {

constexpr std::size_t kPieceBytes = 512 * 1024;
constexpr char kIncoming[] = "incoming";

class FileBlobs final : public BlobStore {
 public:
  explicit FileBlobs(std::string folder) : folder_(std::move(folder)) {
    if (!MakeFolders(folder_ + "/" + kIncoming)) throw std::runtime_error("cannot make " + folder_);
    RemoveSpools();
    // Every blob folder exists, and is on disk, before any file is moved into it.
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 256; ++i) {
      const std::string name = {kDigits[i >> 4], kDigits[i & 0xF]};
      if (!MakeFolders(folder_ + "/" + name)) throw std::runtime_error("cannot make " + folder_ + "/" + name);
    }
    SyncFolder(folder_);
  }

  std::unique_ptr<Spool> NewSpool() override {
    const std::string path = folder_ + "/" + kIncoming + "/" + RandomToken();
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0640));
    if (!fd.valid()) throw std::runtime_error("cannot create " + path);
    return std::make_unique<Spool>(std::move(fd), path);
  }

  std::string Settle(Spool& spool) override {
    const std::string blob = RandomToken();
    const std::string target = PathOf(blob);
    if (!spool.Flush() || ::fsync(spool.fd()) != 0 || ::rename(spool.path().c_str(), target.c_str()) != 0)
      throw std::runtime_error("cannot store " + target);
    spool.Settled();
    if (!SyncFolder(target.substr(0, target.rfind('/')))) {
      ::unlink(target.c_str());
      throw std::runtime_error("cannot sync the folder of " + target);
    }
    return blob;
  }

  void Keep(Sql&, std::int64_t, Spool&) override {}
  void Forget(const std::string& blob) override { ::unlink(PathOf(blob).c_str()); }

  bool Read(Database&, std::int64_t, const std::string& blob,
            const std::function<bool(std::string_view)>& sink) override {
    UniqueFd fd(::open(PathOf(blob).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    std::string piece;
    for (;;) {
      if (!ReadSome(fd.get(), piece, kPieceBytes)) return false;
      if (piece.empty() || !sink(piece)) return true;
    }
  }

  void Remove(Sql&, std::int64_t) override {}
  void RemoveAfterCommit(const std::string& blob) override { ::unlink(PathOf(blob).c_str()); }

  std::string LocalPath(const std::string& blob) const override { return PathOf(blob); }

  std::vector<std::string> Orphans(Database& database, std::int64_t before, bool dryRun) override {
    std::vector<std::string> candidates;
    for (const std::string& blob : AllBlobs()) {
      struct stat status {};
      if (::stat(PathOf(blob).c_str(), &status) == 0 && status.st_mtime < before) candidates.push_back(blob);
    }
    // Read after listing: a file listed above and committed since is named here.
    std::unordered_set<std::string> named;
    for (const SqlRow& row : database.Read("SELECT blob FROM uploads")) named.insert(TextOf(row[0]));
    std::vector<std::string> orphans;
    for (const std::string& blob : candidates) {
      if (named.count(blob) != 0) continue;
      orphans.push_back(PathOf(blob));
      if (!dryRun) ::unlink(PathOf(blob).c_str());
    }
    return orphans;
  }

 private:
  std::vector<std::string> AllBlobs() const {
    std::vector<std::string> blobs;
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 256; ++i) {
      const std::string sub = folder_ + "/" + kDigits[i >> 4] + kDigits[i & 0xF];
      DIR* folder = ::opendir(sub.c_str());
      if (folder == nullptr) continue;
      while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.') blobs.emplace_back(entry->d_name);
      }
      ::closedir(folder);
    }
    return blobs;
  }

  std::string PathOf(const std::string& blob) const {
    if (blob.size() < 2) throw std::runtime_error("bad blob name");
    return folder_ + "/" + blob.substr(0, 2) + "/" + blob;
  }

  // A spool is half an upload: none can outlive the process that wrote it.
  void RemoveSpools() {
    const std::string incoming = folder_ + "/" + kIncoming;
    DIR* folder = ::opendir(incoming.c_str());
    if (folder == nullptr) return;
    while (const dirent* entry = ::readdir(folder)) {
      if (entry->d_name[0] != '.') ::unlink((incoming + "/" + entry->d_name).c_str());
    }
    ::closedir(folder);
  }

  const std::string folder_;
};

class ChunkBlobs final : public BlobStore {
 public:
  explicit ChunkBlobs(std::string spoolFolder) : spoolFolder_(std::move(spoolFolder)) {}

  std::unique_ptr<Spool> NewSpool() override {
    // Anonymous: nothing is left behind, however the process ends.
    UniqueFd fd(::open(spoolFolder_.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600));
    if (!fd.valid()) throw std::runtime_error("cannot make a spool file in " + spoolFolder_);
    return std::make_unique<Spool>(std::move(fd), std::string());
  }

  std::string Settle(Spool& spool) override {
    if (!spool.Flush()) throw std::runtime_error("cannot write a spool file in " + spoolFolder_);
    return "chunks";
  }

  void Keep(Sql& sql, std::int64_t id, Spool& spool) override {
    if (::lseek(spool.fd(), 0, SEEK_SET) != 0) throw std::runtime_error("cannot read the spool file");
    SqlBlob piece;
    for (std::int64_t seq = 0;; ++seq) {
      if (!ReadSome(spool.fd(), piece.bytes, kPieceBytes)) throw std::runtime_error("cannot read the spool file");
      if (piece.bytes.empty()) return;
      sql.Run("INSERT INTO blob_chunks (upload_id, seq, data) VALUES ($1, $2, $3)", {id, seq, piece});
    }
  }

  void Forget(const std::string&) override {}

  bool Read(Database& database, std::int64_t id, const std::string&,
            const std::function<bool(std::string_view)>& sink) override {
    for (std::int64_t seq = 0;; ++seq) {
      const SqlRows rows =
          database.Read("SELECT data FROM blob_chunks WHERE upload_id = $1 AND seq = $2", {id, seq});
      if (rows.empty()) return true;
      if (!sink(TextOf(rows[0][0]))) return true;
    }
  }

  void Remove(Sql& sql, std::int64_t id) override {
    sql.Run("DELETE FROM blob_chunks WHERE upload_id = $1", {id});
  }
  void RemoveAfterCommit(const std::string&) override {}

  std::string LocalPath(const std::string&) const override { return {}; }

  // Chunks are written in their row's transaction: none can outlive it. Checked all the same.
  std::vector<std::string> Orphans(Database& database, std::int64_t, bool dryRun) override {
    std::vector<std::string> orphans;
    const std::string unnamed = "FROM blob_chunks WHERE upload_id NOT IN (SELECT id FROM uploads)";
    for (const SqlRow& row : database.Read("SELECT DISTINCT upload_id " + unnamed))
      orphans.push_back("chunks of upload " + TextOf(row[0]));
    if (!dryRun && !orphans.empty()) database.Transact([&](Sql& sql) { sql.Run("DELETE " + unnamed); });
    return orphans;
  }

 private:
  const std::string spoolFolder_;
};

}  // namespace

Spool::~Spool() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

bool Spool::Add(std::string_view bytes) {
  digest_.Add(bytes);
  size_ += bytes.size();
  buffer_.append(bytes);
  return buffer_.size() < kBufferBytes || Flush();
}

bool Spool::Flush() {
  if (!failed_ && !WriteAll(fd_.get(), buffer_)) failed_ = true;
  buffer_.clear();
  return !failed_;
}

std::unique_ptr<BlobStore> MakeFileBlobs(const std::string& folder) { return std::make_unique<FileBlobs>(folder); }

std::unique_ptr<BlobStore> MakeChunkBlobs(const std::string& spoolFolder) {
  return std::make_unique<ChunkBlobs>(spoolFolder);
}

}  // namespace kx::server
