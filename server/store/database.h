// The one storage interface: SQL statements in the dialect both databases share, with parameters $1, $2, ...
// Two implementations: SQLite (the embedded default, one process) and PostgreSQL (shared by any number of
// instances). What differs between them beyond the interface (table types, claiming queued work) is asked of
// dialect().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kx::server {

struct SqlBlob {
  std::string bytes;
};
using SqlValue = std::variant<std::nullptr_t, std::int64_t, std::string, SqlBlob>;
// Every value as its text (a blob as its bytes); NULL as nothing.
using SqlRow = std::vector<std::optional<std::string>>;
using SqlRows = std::vector<SqlRow>;

enum class Dialect { kSqlite, kPostgres };

// One connection inside one transaction.
class Sql {
 public:
  virtual ~Sql() = default;
  virtual SqlRows Run(const std::string& statement, const std::vector<SqlValue>& parameters = {}) = 0;
};

class Database {
 public:
  virtual ~Database() = default;
  virtual Dialect dialect() const = 0;

  // One statement on its own, for reading: it sees what was committed before it started.
  virtual SqlRows Read(const std::string& statement, const std::vector<SqlValue>& parameters = {}) = 0;

  // Runs `work` as one transaction. When Transact returns, what it wrote is committed and durable; when
  // `work` throws, nothing of it is, and the exception passes on. Safe from any number of threads.
  virtual void Transact(const std::function<void(Sql&)>& work) = 0;
};

// SQLite in write-ahead-log mode with a sync at every commit. Writes from all threads go through one writer
// that commits whatever is waiting in one transaction, so that a crowd of uploads pays one sync, not one
// each; reads run beside it on connections of their own.
std::unique_ptr<Database> OpenSqliteDatabase(const std::string& path);

// PostgreSQL at a libpq URL (postgresql://...), with up to `connections` connections.
std::unique_ptr<Database> OpenPostgresDatabase(const std::string& url, int connections);

// A value or NULL.
SqlValue NullableId(const std::optional<std::int64_t>& id);
SqlValue NullableText(const std::string& text);  // NULL for the empty text

// Readers of result values.
std::int64_t IntOf(const std::optional<std::string>& value, std::int64_t otherwise = 0);
std::string TextOf(const std::optional<std::string>& value);

}  // namespace kx::server
