// The group list's counts, kept by the transactions that change crashes instead of counted at each request.
#include "store/store.h"

namespace kx::server {

void Store::Tally(Sql& sql, std::int64_t group, const CrashArrival& arrival) {
  const ReportFacts& facts = arrival.facts;
  // The group's row first: on PostgreSQL its lock orders instances taking crashes of the group (of different
  // builds, so under different signature locks) and a recount, so the installation check below sees the
  // crashes every earlier one committed.
  sql.Run("UPDATE crash_groups SET crashes = crashes + 1, "
          "last_seen = CASE WHEN last_seen < $2 THEN $2 ELSE last_seen END WHERE id = $1",
          {group, arrival.now});
  sql.Run("UPDATE crash_groups SET installations = installations + 1 WHERE id = $1 AND "
          "(SELECT COUNT(*) FROM crashes WHERE group_id = $1 AND guid = $2) = 1",
          {group, arrival.guid});
  sql.Run("INSERT INTO group_builds (group_id, product, version, build, crashes, last_seen) "
          "VALUES ($1, $2, $3, $4, 1, $5) ON CONFLICT (group_id, product, version, build) DO UPDATE SET "
          "crashes = group_builds.crashes + 1, last_seen = CASE WHEN group_builds.last_seen < excluded.last_seen "
          "THEN excluded.last_seen ELSE group_builds.last_seen END",
          {group, facts.product, facts.version, facts.build, arrival.now});
  sql.Run("INSERT INTO group_days (group_id, day, crashes) VALUES ($1, $2, 1) ON CONFLICT (group_id, day) "
          "DO UPDATE SET crashes = group_days.crashes + 1",
          {group, arrival.now / 86400});
}

void Store::Recount(Sql& sql, std::int64_t group) {
  if (database_->dialect() == Dialect::kPostgres) sql.Run("SELECT id FROM crash_groups WHERE id = $1 FOR UPDATE", {group});
  sql.Run("DELETE FROM group_builds WHERE group_id = $1", {group});
  sql.Run("INSERT INTO group_builds SELECT group_id, COALESCE(product, ''), COALESCE(version, ''), "
          "COALESCE(build, ''), COUNT(*), MAX(first_seen) FROM crashes WHERE group_id = $1 "
          "GROUP BY group_id, COALESCE(product, ''), COALESCE(version, ''), COALESCE(build, '')",
          {group});
  sql.Run("DELETE FROM group_days WHERE group_id = $1", {group});
  sql.Run("INSERT INTO group_days SELECT group_id, first_seen / 86400, COUNT(*) FROM crashes WHERE group_id = $1 "
          "GROUP BY group_id, first_seen / 86400",
          {group});
  sql.Run("UPDATE crash_groups SET crashes = (SELECT COUNT(*) FROM crashes WHERE group_id = $1), "
          "installations = (SELECT COUNT(DISTINCT guid) FROM crashes WHERE group_id = $1), "
          "last_seen = (SELECT COALESCE(MAX(first_seen), 0) FROM crashes WHERE group_id = $1) WHERE id = $1",
          {group});
}

}  // namespace kx::server
