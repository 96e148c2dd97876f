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
      // 3: the pages: accounts and their sessions (a token's SHA-256 only), a group's own dump sampling, and
      // the indexes the group list and a group's page read by.
      {
          "CREATE TABLE users (name TEXT PRIMARY KEY, password TEXT NOT NULL, created BIGINT NOT NULL)",
          "CREATE TABLE sessions (token TEXT PRIMARY KEY, user_name TEXT NOT NULL, csrf TEXT NOT NULL, "
          "expires BIGINT NOT NULL)",
          "ALTER TABLE crash_groups ADD COLUMN dumps_per_group BIGINT",
          // Everything the group list counts and filters by, so that it reads the index alone, never the rows
          // (whose report document is large); a group's latest crashes come from its front.
          "CREATE INDEX crashes_for_pages ON crashes (group_id, first_seen, guid, dump_upload, product, version, "
          "build)",
          "CREATE INDEX crashes_by_time ON crashes (first_seen)",
      },
      // 4: a group's counts kept as its crashes arrive, move and go (Store::Tally, Store::Recount), so that the
      // group list reads a row a group, a row a build of it and a row a day, whatever the number of crashes.
      {
          "ALTER TABLE crash_groups ADD COLUMN crashes BIGINT NOT NULL DEFAULT 0",
          "ALTER TABLE crash_groups ADD COLUMN installations BIGINT NOT NULL DEFAULT 0",
          "ALTER TABLE crash_groups ADD COLUMN last_seen BIGINT NOT NULL DEFAULT 0",
          "CREATE TABLE group_builds (group_id BIGINT NOT NULL, product TEXT NOT NULL, version TEXT NOT NULL, "
          "build TEXT NOT NULL, crashes BIGINT NOT NULL, last_seen BIGINT NOT NULL, "
          "PRIMARY KEY (group_id, product, version, build))",
          "CREATE TABLE group_days (group_id BIGINT NOT NULL, day BIGINT NOT NULL, crashes BIGINT NOT NULL, "
          "PRIMARY KEY (group_id, day))",
          "CREATE INDEX group_days_by_day ON group_days (day)",
          "CREATE INDEX crashes_by_installation ON crashes (group_id, guid)",
          "INSERT INTO group_builds SELECT group_id, COALESCE(product, ''), COALESCE(version, ''), "
          "COALESCE(build, ''), COUNT(*), MAX(first_seen) FROM crashes WHERE group_id IS NOT NULL "
          "GROUP BY group_id, COALESCE(product, ''), COALESCE(version, ''), COALESCE(build, '')",
          "INSERT INTO group_days SELECT group_id, first_seen / 86400, COUNT(*) FROM crashes "
          "WHERE group_id IS NOT NULL GROUP BY group_id, first_seen / 86400",
          "UPDATE crash_groups SET crashes = (SELECT COUNT(*) FROM crashes c WHERE c.group_id = crash_groups.id), "
          "installations = (SELECT COUNT(DISTINCT guid) FROM crashes c WHERE c.group_id = crash_groups.id), "
          "last_seen = (SELECT COALESCE(MAX(first_seen), 0) FROM crashes c WHERE c.group_id = crash_groups.id)",
      },
      // 5: a group's builds by their latest crash, so that the group list reads the few it shows from the
      // index's front, never the rest.
      {
          "CREATE INDEX group_builds_latest ON group_builds (group_id, last_seen DESC, product, version, build)",
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
