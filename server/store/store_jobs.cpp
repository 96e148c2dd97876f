// The processing queue and retention: the work that runs apart from intake.
#include <set>
#include <unordered_set>

#include "rules/signature.h"
#include "store/store.h"
#include "wire/digest.h"

namespace kx::server {

std::vector<Job> Store::ClaimJobs(std::size_t most, std::int64_t now) {
  // A lease, not a lock held while working: the walker may take its time, and a job whose instance died
  // comes back when its lease runs out. SKIP LOCKED keeps instances that claim at once out of each other's way.
  const std::string skipLocked = database_->dialect() == Dialect::kPostgres ? " FOR UPDATE SKIP LOCKED" : "";
  SqlRows claimed;
  database_->Transact([&](Sql& sql) {
    claimed = sql.Run("UPDATE jobs SET lease_until = $1, attempts = attempts + 1 WHERE id IN (SELECT id FROM jobs "
                      "WHERE lease_until < $2 ORDER BY id LIMIT $3" + skipLocked + ") RETURNING id, upload_id, attempts",
                      {now + kJobLeaseSeconds, now, static_cast<std::int64_t>(most)});
  });
  std::vector<Job> jobs;
  for (const SqlRow& row : claimed) {
    Job job;
    job.id = IntOf(row[0]);
    job.uploadId = IntOf(row[1]);
    job.attempts = static_cast<int>(IntOf(row[2]));
    const SqlRows upload =
        database_->Read("SELECT kind, guid, crash_id, blob, size FROM uploads WHERE id = $1", {job.uploadId});
    if (upload.empty()) continue;  // removed by retention meanwhile; its job went with it
    job.kind = TextOf(upload[0][0]);
    job.guid = TextOf(upload[0][1]);
    job.crashId = TextOf(upload[0][2]);
    job.blob = TextOf(upload[0][3]);
    job.size = static_cast<std::uint64_t>(IntOf(upload[0][4]));
    jobs.push_back(std::move(job));
  }
  return jobs;
}

bool Store::ReadUpload(std::int64_t id, const std::string& blob, const std::function<bool(std::string_view)>& sink) {
  return blobs_->Read(*database_, id, blob, sink);
}

void Store::FinishReportJob(const Job& job, const ReportFacts& facts, std::string_view document, std::int64_t now) {
  // The GUID the solution exchange knew the crash by, so that both copies meet in one row.
  const std::string guid = facts.readable() ? facts.guid : job.guid;
  const CrashArrival arrival{facts, guid, document, Sha256Hex(ReportIdentity(document)),
                             facts.readable() ? CrashSignature(facts) : std::string(), now, std::nullopt,
                             job.uploadId, job.crashId};
  database_->Transact([&](Sql& sql) {
    const std::int64_t crash = CrashRow(sql, arrival);
    sql.Run("UPDATE crashes SET report_upload = COALESCE(report_upload, $1), crash_id = COALESCE(crash_id, $2) "
            "WHERE id = $3",
            {job.uploadId, job.crashId, crash});
    // The dump may have come first. A crash with a dump counts as asked for (crashes_with_dumps).
    sql.Run("UPDATE crashes SET dump_upload = (SELECT MIN(id) FROM uploads WHERE guid = $1 AND crash_id = $2 AND "
            "kind = 'dump') WHERE id = $3 AND dump_upload IS NULL",
            {job.guid, job.crashId, crash});
    sql.Run("UPDATE crashes SET dump_asked = $1 WHERE id = $2 AND dump_upload IS NOT NULL AND dump_asked IS NULL",
            {now, crash});
    NameGroup(sql, crash, now);
    sql.Run("UPDATE uploads SET state = $1, details = $2 WHERE id = $3",
            {facts.readable() ? "processed" : "unreadable", NullableText(facts.problem), job.uploadId});
    sql.Run("DELETE FROM jobs WHERE id = $1", {job.id});
  });
}

void Store::FinishDumpJob(const Job& job, bool readable, const std::string& details, const std::string& signature,
                          std::int64_t now) {
  database_->Transact([&](Sql& sql) {
    sql.Run("UPDATE uploads SET state = $1, details = $2, signature = $3 WHERE id = $4",
            {readable ? "processed" : "unreadable", details, NullableText(signature), job.uploadId});
    // The report may have come first: its crash takes the dump.
    sql.Run("UPDATE crashes SET dump_upload = $1, dump_asked = COALESCE(dump_asked, $2) WHERE id = (SELECT MIN(c.id) "
            "FROM crashes c WHERE c.guid = $3 AND c.crash_id = $4) AND dump_upload IS NULL",
            {job.uploadId, now, job.guid, job.crashId});
    // A crash known by now may take its group's name from the dump.
    const SqlRows crash = sql.Run("SELECT MIN(id) FROM crashes WHERE guid = $1 AND crash_id = $2", {job.guid, job.crashId});
    if (!crash.empty() && crash[0][0]) NameGroup(sql, IntOf(crash[0][0]), now);
    sql.Run("DELETE FROM jobs WHERE id = $1", {job.id});
  });
}

void Store::GiveUpJob(const Job& job, const std::string& why) {
  database_->Transact([&](Sql& sql) {
    sql.Run("UPDATE uploads SET state = 'unprocessed', details = $1 WHERE id = $2", {why, job.uploadId});
    sql.Run("DELETE FROM jobs WHERE id = $1", {job.id});
  });
}

std::int64_t Store::QueuedJobs() { return IntOf(database_->Read("SELECT COUNT(*) FROM jobs").at(0)[0]); }

std::int64_t Store::ApplyRetention(const RetentionLimits& limits) {
  std::unordered_set<std::int64_t> kept;
  for (const SqlRow& row : database_->Read("SELECT MIN(dump_upload), MAX(dump_upload) FROM crashes WHERE "
                                           "dump_upload IS NOT NULL AND group_id IS NOT NULL GROUP BY group_id")) {
    kept.insert(IntOf(row[0]));
    kept.insert(IntOf(row[1]));
  }
  std::uint64_t total =
      static_cast<std::uint64_t>(IntOf(database_->Read("SELECT COALESCE(SUM(size), 0) FROM uploads").at(0)[0]));
  std::int64_t removed = 0;
  // Oldest first, a batch at a time, until a batch has nothing to remove.
  for (std::int64_t after = 0;;) {
    std::vector<StoredFile> candidates;
    for (const SqlRow& row : database_->Read(
             "SELECT id, received, size, kind FROM uploads WHERE id > $1 ORDER BY id LIMIT 1000", {after})) {
      after = IntOf(row[0]);
      if (kept.count(after) == 0)
        candidates.push_back({after, IntOf(row[1]), static_cast<std::uint64_t>(IntOf(row[2])), TextOf(row[3]) == "dump"});
    }
    if (candidates.empty()) break;
    const RetentionPlan plan = PlanRetention(candidates, total, limits);
    if (plan.removed.empty()) break;
    total = plan.bytesLeft;
    RemoveUploads(plan.removed);
    removed += static_cast<std::int64_t>(plan.removed.size());
  }
  database_->Transact([&](Sql& sql) {
    std::set<std::int64_t> groups;
    for (const SqlRow& row : sql.Run("DELETE FROM crashes WHERE first_seen < $1 AND report_upload IS NULL AND "
                                     "dump_upload IS NULL RETURNING group_id",
                                     {limits.cutoff}))
      if (row[0]) groups.insert(IntOf(row[0]));
    for (const std::int64_t group : groups) Recount(sql, group);
    sql.Run("DELETE FROM events WHERE received < $1", {limits.cutoff});
    sql.Run("DELETE FROM crash_groups WHERE NOT EXISTS (SELECT 1 FROM crashes c WHERE c.group_id = crash_groups.id)");
  });
  return removed;
}

void Store::RemoveUploads(const std::vector<std::int64_t>& ids) {
  std::vector<std::string> blobs;
  database_->Transact([&](Sql& sql) {
    blobs.clear();
    for (const std::int64_t id : ids) {
      const SqlRows row = sql.Run("DELETE FROM uploads WHERE id = $1 RETURNING blob", {id});
      if (row.empty()) continue;
      blobs.push_back(TextOf(row[0][0]));
      blobs_->Remove(sql, id);
      sql.Run("DELETE FROM jobs WHERE upload_id = $1", {id});
      sql.Run("UPDATE crashes SET dump_upload = NULL WHERE dump_upload = $1", {id});
      sql.Run("UPDATE crashes SET report_upload = NULL WHERE report_upload = $1", {id});
    }
  });
  for (const std::string& blob : blobs) blobs_->RemoveAfterCommit(blob);
}

std::int64_t Store::RemoveOrphans(std::int64_t before) {
  return static_cast<std::int64_t>(blobs_->Orphans(*database_, before, false).size());
}

}  // namespace kx::server
