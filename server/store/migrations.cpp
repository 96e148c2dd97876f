#include "store/migrations.h"

#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

namespace kx::server {
namespace {

// {id} and {blob} are the two types the dialects write differently.
const std::vector<std::vector<const char*>>& Migrations() {
  static const std::vector<std::vector<const char*>> migrations = {
      // 1: uploads, crashes and their groups, the queue, and what the admin sets.
      {
          "CREATE TABLE settings (name TEXT PRIMARY KEY, value TEXT NOT NULL)",
          "CREATE TABLE crash_groups (id {id}, signature TEXT NOT NULL UNIQUE, first_seen BIGINT NOT NULL)",
          "CREATE TABLE uploads (id {id}, guid TEXT NOT NULL, name TEXT NOT NULL, kind TEXT NOT NULL, "
          "crash_id TEXT, report_name TEXT, size BIGINT NOT NULL, sha256 TEXT NOT NULL, blob TEXT NOT NULL, "
          "received BIGINT NOT NULL, state TEXT NOT NULL, details TEXT, UNIQUE (guid, name))",
          "CREATE INDEX uploads_by_crash ON uploads (guid, crash_id, kind)",
          "CREATE INDEX uploads_by_age ON uploads (received)",
          "CREATE TABLE blob_chunks (upload_id BIGINT NOT NULL, seq INTEGER NOT NULL, data {blob} NOT NULL, "
          "PRIMARY KEY (upload_id, seq))",
          // The report last: SQLite reads a large value's overflow pages for any column stored after it.
          "CREATE TABLE crashes (id {id}, guid TEXT NOT NULL, fingerprint TEXT NOT NULL, group_id BIGINT, "
          "state TEXT NOT NULL, problem TEXT, product TEXT, version TEXT, build TEXT, pvb_key TEXT, "
          "crash_type TEXT, exception TEXT, exception_code TEXT, dump_type TEXT, crash_id TEXT, "
          "first_seen BIGINT NOT NULL, solution_at BIGINT, dump_asked BIGINT, report_upload BIGINT, "
          "dump_upload BIGINT, document {blob}, UNIQUE (guid, fingerprint))",
          "CREATE INDEX crashes_by_group ON crashes (group_id, pvb_key)",
          "CREATE INDEX crashes_by_crash_id ON crashes (guid, crash_id)",
          "CREATE INDEX crashes_by_dump ON crashes (dump_upload)",
          // The dump sampling counts, at every solution exchange, the crashes of a group and build whose dump
          // was asked for or arrived: few, whatever the size of the group.
          "CREATE INDEX crashes_with_dumps ON crashes (group_id, pvb_key) WHERE dump_asked IS NOT NULL",
          "CREATE TABLE jobs (id {id}, upload_id BIGINT NOT NULL, lease_until BIGINT NOT NULL, "
          "attempts INTEGER NOT NULL)",
          "CREATE TABLE link_rules (kind TEXT NOT NULL, pattern TEXT NOT NULL, url TEXT NOT NULL, "
          "PRIMARY KEY (kind, pattern))",
          "CREATE TABLE build_preferences (pvb_key TEXT PRIMARY KEY, product TEXT NOT NULL, "
          "version TEXT NOT NULL, build TEXT NOT NULL, value TEXT NOT NULL)",
          "CREATE TABLE events (id {id}, received BIGINT NOT NULL, project TEXT NOT NULL, "
          "event_type TEXT NOT NULL, body TEXT NOT NULL)",
          "CREATE INDEX events_by_age ON events (received)",
      },
      // 2: a dump's signature from its walk, and the named signature each build's unnamed one stands for.
      {
          "ALTER TABLE uploads ADD COLUMN signature TEXT",
          "CREATE TABLE signature_names (pvb_key TEXT NOT NULL, signature TEXT NOT NULL, named TEXT NOT NULL, "
          "PRIMARY KEY (pvb_key, signature))",
      },
  };
  return migrations;
}

std::string InDialect(std::string statement, Dialect dialect) {
  const auto replace = [&](const std::string& token, const char* sqlite, const char* postgres) {
    for (std::size_t at; (at = statement.find(token)) != std::string::npos;)
      statement.replace(at, token.size(), dialect == Dialect::kSqlite ? sqlite : postgres);
  };
  replace("{id}", "INTEGER PRIMARY KEY", "BIGSERIAL PRIMARY KEY");
  replace("{blob}", "BLOB", "BYTEA");
  return statement;
}

int CurrentVersion(Sql& sql) {
  const SqlRows rows = sql.Run("SELECT MAX(version) FROM schema_migrations");
  return rows.empty() ? 0 : static_cast<int>(IntOf(rows[0][0]));
}

}  // namespace

int LatestSchemaVersion() { return static_cast<int>(Migrations().size()); }

int Migrate(Database& database) {
  int version = 0;
  for (;;) {
    bool applied = false;
    database.Transact([&](Sql& sql) {
      // Instances that start together wait here for each other; SQLite's writer is one already.
      if (database.dialect() == Dialect::kPostgres) sql.Run("SELECT pg_advisory_xact_lock(4711)");
      sql.Run("CREATE TABLE IF NOT EXISTS schema_migrations (version INTEGER PRIMARY KEY, "
              "applied BIGINT NOT NULL)");
      version = CurrentVersion(sql);
      if (version > LatestSchemaVersion())
        throw std::runtime_error("the store has schema version " + std::to_string(version) +
                                 ", newer than this kxserver's " + std::to_string(LatestSchemaVersion()));
      if (version == LatestSchemaVersion()) return;
      for (const char* statement : Migrations()[static_cast<std::size_t>(version)])
        sql.Run(InDialect(statement, database.dialect()));
      sql.Run("INSERT INTO schema_migrations (version, applied) VALUES ($1, $2)",
              {std::int64_t{version + 1}, static_cast<std::int64_t>(std::time(nullptr))});
      applied = true;
    });
    if (!applied) return version;
  }
}

}  // namespace kx::server
