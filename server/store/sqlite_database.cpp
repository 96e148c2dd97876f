#include <sqlite3.h>

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "store/database.h"

namespace kx::server {
namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr std::size_t kMostPerCommit = 512;

// "$1" as SQLite writes it, "?1".
std::string SqliteText(const std::string& statement) {
  std::string text = statement;
  for (std::size_t at = 0; at + 1 < text.size(); ++at) {
    if (text[at] == '$' && text[at + 1] >= '0' && text[at + 1] <= '9') text[at] = '?';
  }
  return text;
}

class SqliteConnection final : public Sql {
 public:
  explicit SqliteConnection(const std::string& path) {
    const int opened = sqlite3_open_v2(path.c_str(), &db_,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK) Fail("cannot open " + path);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    Execute("PRAGMA journal_mode=WAL");
    // A commit is on disk when it returns: the answer 2xx to an upload depends on it.
    Execute("PRAGMA synchronous=FULL");
  }
  ~SqliteConnection() override {
    for (auto& entry : cache_) sqlite3_finalize(entry.second);
    sqlite3_close_v2(db_);
  }
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  void Execute(const char* statement) {
    if (sqlite3_exec(db_, statement, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(statement);
  }

  SqlRows Run(const std::string& statement, const std::vector<SqlValue>& parameters) override {
    sqlite3_stmt* prepared = Prepared(statement);
    struct Reset {
      sqlite3_stmt* statement;
      ~Reset() {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
      }
    } reset{prepared};
    for (std::size_t i = 0; i < parameters.size(); ++i) Bind(prepared, static_cast<int>(i + 1), parameters[i]);
    SqlRows rows;
    for (;;) {
      const int stepped = sqlite3_step(prepared);
      if (stepped == SQLITE_DONE) return rows;
      if (stepped != SQLITE_ROW) Fail(statement);
      SqlRow row;
      for (int column = 0; column < sqlite3_column_count(prepared); ++column) {
        if (sqlite3_column_type(prepared, column) == SQLITE_NULL) {
          row.emplace_back();
          continue;
        }
        const void* bytes = sqlite3_column_blob(prepared, column);
        const int size = sqlite3_column_bytes(prepared, column);
        row.emplace_back(std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(size)));
      }
      rows.push_back(std::move(row));
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("SQLite: " + std::string(db_ ? sqlite3_errmsg(db_) : "out of memory") + " (" +
                             what.substr(0, 120) + ")");
  }

  sqlite3_stmt* Prepared(const std::string& statement) {
    const auto cached = cache_.find(statement);
    if (cached != cache_.end()) return cached->second;
    sqlite3_stmt* prepared = nullptr;
    const std::string text = SqliteText(statement);
    if (sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()), &prepared, nullptr) != SQLITE_OK)
      Fail(statement);
    cache_.emplace(statement, prepared);
    return prepared;
  }

  void Bind(sqlite3_stmt* prepared, int index, const SqlValue& value) {
    int bound = SQLITE_OK;
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
      bound = sqlite3_bind_int64(prepared, index, *number);
    } else if (const auto* text = std::get_if<std::string>(&value)) {
      bound = sqlite3_bind_text64(prepared, index, text->data(), text->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    } else if (const auto* blob = std::get_if<SqlBlob>(&value)) {
      bound = sqlite3_bind_blob64(prepared, index, blob->bytes.data(), blob->bytes.size(), SQLITE_TRANSIENT);
    } else {
      bound = sqlite3_bind_null(prepared, index);
    }
    if (bound != SQLITE_OK) Fail("bind");
  }

  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
};

class SqliteDatabase final : public Database {
 public:
  explicit SqliteDatabase(std::string path) : path_(std::move(path)) {
    writerConnection_ = std::make_unique<SqliteConnection>(path_);
    writer_ = std::thread([this] { WriterLoop(); });
  }
  ~SqliteDatabase() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    queued_.notify_all();
    writer_.join();
  }

  Dialect dialect() const override { return Dialect::kSqlite; }

  SqlRows Read(const std::string& statement, const std::vector<SqlValue>& parameters) override {
    std::unique_ptr<SqliteConnection> reader = BorrowReader();
    SqlRows rows = reader->Run(statement, parameters);
    ReturnReader(std::move(reader));
    return rows;
  }

  void Transact(const std::function<void(Sql&)>& work) override {
    Pending pending{&work, {}};
    std::future<void> done = pending.promise.get_future();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) throw std::runtime_error("SQLite: the database is closing");
      queue_.push_back(&pending);
    }
    queued_.notify_one();
    done.get();
  }

 private:
  struct Pending {
    const std::function<void(Sql&)>* work;
    std::promise<void> promise;
  };

  std::unique_ptr<SqliteConnection> BorrowReader() {
    {
      std::lock_guard<std::mutex> lock(readersMutex_);
      if (!readers_.empty()) {
        std::unique_ptr<SqliteConnection> reader = std::move(readers_.back());
        readers_.pop_back();
        return reader;
      }
    }
    return std::make_unique<SqliteConnection>(path_);
  }

  void ReturnReader(std::unique_ptr<SqliteConnection> reader) {
    std::lock_guard<std::mutex> lock(readersMutex_);
    readers_.push_back(std::move(reader));
  }

  // Every waiting transaction joins one commit, each in a savepoint of its own so that one that throws
  // takes nothing of the others with it.
  void WriterLoop() {
    for (;;) {
      std::vector<Pending*> batch;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        while (!queue_.empty() && batch.size() < kMostPerCommit) {
          batch.push_back(queue_.front());
          queue_.pop_front();
        }
      }
      CommitBatch(batch);
    }
  }

  void CommitBatch(const std::vector<Pending*>& batch) {
    std::vector<std::exception_ptr> errors(batch.size());
    std::exception_ptr failed;
    try {
      writerConnection_->Execute("BEGIN IMMEDIATE");
      for (std::size_t i = 0; i < batch.size(); ++i) {
        writerConnection_->Execute("SAVEPOINT work");
        try {
          (*batch[i]->work)(*writerConnection_);
          writerConnection_->Execute("RELEASE work");
        } catch (...) {
          errors[i] = std::current_exception();
          writerConnection_->Execute("ROLLBACK TO work");
          writerConnection_->Execute("RELEASE work");
        }
      }
      writerConnection_->Execute("COMMIT");
    } catch (...) {
      failed = std::current_exception();
      RollBack();
    }
    for (std::size_t i = 0; i < batch.size(); ++i) {
      if (errors[i] || failed) {
        batch[i]->promise.set_exception(errors[i] ? errors[i] : failed);
      } else {
        batch[i]->promise.set_value();
      }
    }
  }

  void RollBack() {
    try {
      writerConnection_->Execute("ROLLBACK");
    } catch (...) {
      // No transaction was open: BEGIN itself failed.
    }
  }

  const std::string path_;
  std::unique_ptr<SqliteConnection> writerConnection_;
  std::mutex readersMutex_;
  std::vector<std::unique_ptr<SqliteConnection>> readers_;
  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<Pending*> queue_;
  bool stopping_ = false;
  std::thread writer_;
};

}  // namespace

std::unique_ptr<Database> OpenSqliteDatabase(const std::string& path) {
  return std::make_unique<SqliteDatabase>(path);
}

}  // namespace kx::server
