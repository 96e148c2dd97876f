#include <pqxx/pqxx>

#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "common/hex_text.h"
#include "store/database.h"

// Parameters go to libpq as text: numbers and texts as they are, blobs in bytea's hexadecimal form.
namespace pqxx {
template <>
struct string_traits<kx::server::SqlValue> {
  static constexpr const char* name() noexcept { return "kx::server::SqlValue"; }
  static constexpr bool has_null() noexcept { return true; }
  static bool is_null(const kx::server::SqlValue& value) { return std::holds_alternative<std::nullptr_t>(value); }
  static kx::server::SqlValue null() { return nullptr; }
  static void from_string(const char text[], kx::server::SqlValue& value) { value = std::string(text); }
  static std::string to_string(const kx::server::SqlValue& value) {
    if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    const std::string& bytes = std::get<kx::server::SqlBlob>(value).bytes;
    std::string hex = "\\x";
    hex.reserve(2 + bytes.size() * 2);
    for (const char c : bytes) kx::AppendHex(hex, static_cast<unsigned char>(c), 2, false);
    return hex;
  }
};
}  // namespace pqxx

namespace kx::server {
namespace {

constexpr pqxx::oid kByteaType = 17;

SqlRows RowsOf(const pqxx::result& result) {
  SqlRows rows;
  rows.reserve(result.size());
  for (const pqxx::row& row : result) {
    SqlRow values;
    for (const pqxx::field& field : row) {
      if (field.is_null()) {
        values.emplace_back();
      } else if (field.type() == kByteaType) {
        values.emplace_back(pqxx::binarystring(field).str());
      } else {
        values.emplace_back(std::string(field.c_str(), field.size()));
      }
    }
    rows.push_back(std::move(values));
  }
  return rows;
}

class PostgresSql final : public Sql {
 public:
  explicit PostgresSql(pqxx::transaction_base& transaction) : transaction_(transaction) {}
  SqlRows Run(const std::string& statement, const std::vector<SqlValue>& parameters) override {
    return RowsOf(transaction_.exec_params(statement, pqxx::prepare::make_dynamic_params(parameters)));
  }

 private:
  pqxx::transaction_base& transaction_;
};

class PostgresDatabase final : public Database {
 public:
  PostgresDatabase(std::string url, int connections) : url_(std::move(url)), most_(std::max(1, connections)) {
    // Fails here, at the start, when the database cannot be reached.
    Return(std::make_unique<pqxx::connection>(url_));
    ++open_;
  }

  Dialect dialect() const override { return Dialect::kPostgres; }

  SqlRows Read(const std::string& statement, const std::vector<SqlValue>& parameters) override {
    SqlRows rows;
    WithConnection([&](pqxx::connection& connection) {
      pqxx::nontransaction transaction(connection);
      PostgresSql sql(transaction);
      rows = sql.Run(statement, parameters);
    });
    return rows;
  }

  void Transact(const std::function<void(Sql&)>& work) override {
    WithConnection([&](pqxx::connection& connection) {
      pqxx::work transaction(connection);
      PostgresSql sql(transaction);
      work(sql);
      transaction.commit();
    });
  }

 private:
  // A connection that broke is dropped, not handed to the next caller.
  void WithConnection(const std::function<void(pqxx::connection&)>& use) {
    std::unique_ptr<pqxx::connection> connection = Borrow();
    try {
      use(*connection);
    } catch (...) {
      if (connection->is_open()) {
        Return(std::move(connection));
      } else {
        Drop();
      }
      throw;
    }
    Return(std::move(connection));
  }

  std::unique_ptr<pqxx::connection> Borrow() {
    std::unique_lock<std::mutex> lock(mutex_);
    returned_.wait(lock, [this] { return !idle_.empty() || open_ < most_; });
    if (!idle_.empty()) {
      std::unique_ptr<pqxx::connection> connection = std::move(idle_.back());
      idle_.pop_back();
      return connection;
    }
    ++open_;
    lock.unlock();
    try {
      return std::make_unique<pqxx::connection>(url_);
    } catch (...) {
      Drop();
      throw;
    }
  }

  void Return(std::unique_ptr<pqxx::connection> connection) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      idle_.push_back(std::move(connection));
    }
    returned_.notify_one();
  }

  void Drop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --open_;
    }
    returned_.notify_one();
  }

  const std::string url_;
  const int most_;
  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::unique_ptr<pqxx::connection>> idle_;
  int open_ = 0;
};

}  // namespace

std::unique_ptr<Database> OpenPostgresDatabase(const std::string& url, int connections) {
  return std::make_unique<PostgresDatabase>(url, connections);
}

}  // namespace kx::server
