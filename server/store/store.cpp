#include "store/store.h"

#include <stdexcept>

#include "common/ascii_text.h"
#include "prefs/pvb_key.h"
#include "rules/signature.h"
#include "store/migrations.h"
#include "wire/digest.h"

namespace kx::server {
namespace {

std::string PvbKeyOf(const ReportFacts& facts) { return MakePvbKey(facts.product, facts.version, facts.build); }

std::optional<std::int64_t> FirstInt(const SqlRows& rows) {
  if (rows.empty() || !rows[0][0]) return std::nullopt;
  return IntOf(rows[0][0]);
}

}  // namespace

Store::Store(std::unique_ptr<Database> database, std::unique_ptr<BlobStore> blobs)
    : database_(std::move(database)), blobs_(std::move(blobs)) {}

std::unique_ptr<Store> Store::Open(const StoreLocation& location) {
  std::unique_ptr<Database> database;
  std::unique_ptr<BlobStore> blobs;
  if (!location.databaseUrl.empty()) {
    database = OpenPostgresDatabase(location.databaseUrl, location.connections);
    blobs = MakeChunkBlobs(location.spoolFolder);
  } else {
    if (!MakeFolders(location.dataFolder)) throw std::runtime_error("cannot make " + location.dataFolder);
    database = OpenSqliteDatabase(location.dataFolder + "/kxserver.sqlite");
    blobs = MakeFileBlobs(location.dataFolder + "/files");
  }
  Migrate(*database);
  return std::make_unique<Store>(std::move(database), std::move(blobs));
}

bool Store::HasUpload(const UploadIdentity& upload) {
  return !database_->Read("SELECT 1 FROM uploads WHERE guid = $1 AND name = $2", {upload.guid, upload.fileName})
              .empty();
}

bool Store::SaveUpload(const UploadIdentity& upload, Spool& spool, std::int64_t now) {
  const std::string blob = blobs_->Settle(spool);
  const std::string sha256 = spool.DigestHex();
  bool stored = false;
  try {
    database_->Transact([&](Sql& sql) {
      const SqlRows inserted = sql.Run(
          "INSERT INTO uploads (guid, name, kind, crash_id, report_name, size, sha256, blob, received, state) "
          "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, 'new') ON CONFLICT (guid, name) DO NOTHING RETURNING id",
          {upload.guid, upload.fileName, upload.kind, NullableText(upload.crashId), NullableText(upload.reportName),
           static_cast<std::int64_t>(spool.size()), sha256, blob, now});
      stored = !inserted.empty();
      if (!stored) return;
      const std::int64_t id = IntOf(inserted[0][0]);
      blobs_->Keep(sql, id, spool);
      if (upload.kind == "report" || upload.kind == "dump") {
        sql.Run("INSERT INTO jobs (upload_id, lease_until, attempts) VALUES ($1, 0, 0)", {id});
      }
    });
  } catch (...) {
    blobs_->Forget(blob);
    throw;
  }
  if (!stored) blobs_->Forget(blob);
  return stored;
}

std::int64_t Store::CrashRow(Sql& sql, const CrashArrival& arrival) {
  const ReportFacts& facts = arrival.facts;
  const std::string& fingerprint = arrival.fingerprint;
  const std::string find = "SELECT id FROM crashes WHERE guid = $1 AND fingerprint = $2";
  if (auto id = FirstInt(sql.Run(find, {arrival.guid, fingerprint}))) return *id;
  std::optional<std::int64_t> group;
  if (facts.readable()) group = GroupFor(sql, arrival.signature, PvbKeyOf(facts), arrival.now);
  const SqlRows made = sql.Run(
      "INSERT INTO crashes (guid, fingerprint, group_id, state, problem, product, version, build, pvb_key, "
      "crash_type, exception, exception_code, dump_type, document, first_seen, solution_at, report_upload, "
      "crash_id) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18) "
      "ON CONFLICT (guid, fingerprint) DO NOTHING RETURNING id",
      {arrival.guid, fingerprint, NullableId(group), facts.readable() ? "grouped" : "unreadable",
       NullableText(facts.problem), facts.product, facts.version, facts.build, PvbKeyOf(facts), facts.crashType,
       facts.exception, facts.exceptionCode, facts.dumpType, SqlBlob{std::string(arrival.document)}, arrival.now,
       NullableId(arrival.solutionAt), NullableId(arrival.reportUpload), NullableText(arrival.crashId)});
  if (!made.empty() && group) Tally(sql, *group, arrival);
  if (auto id = FirstInt(sql.Run(find, {arrival.guid, fingerprint}))) return *id;
  throw std::runtime_error("the crash row was not made");
}

// Intake and a rename of a signature's group must not interleave: intake that read "not named yet" while a
// rename moved the build's crashes would leave its crash in the unnamed group for good, or in the group the
// rename removed as empty (the group is every build's). SQLite runs one writing transaction at a time;
// PostgreSQL instances take a lock of the transaction on the unnamed signature, held to its commit.
void Store::LockSignature(Sql& sql, const std::string& signature) {
  if (database_->dialect() != Dialect::kPostgres) return;
  sql.Run("SELECT pg_advisory_xact_lock(hashtextextended($1, 0))", {signature});
}

std::int64_t Store::GroupFor(Sql& sql, const std::string& signature, const std::string& pvbKey,
                             std::int64_t now) {
  LockSignature(sql, signature);
  const SqlRows named =
      sql.Run("SELECT named FROM signature_names WHERE pvb_key = $1 AND signature = $2", {pvbKey, signature});
  return GroupNamed(sql, named.empty() ? signature : TextOf(named[0][0]), now);
}

void Store::NameGroup(Sql& sql, std::int64_t crash, std::int64_t now) {
  const SqlRows row = sql.Run(
      "SELECT c.pvb_key, g.id, g.signature, g.first_seen, u.signature FROM crashes c JOIN crash_groups g ON "
      "g.id = c.group_id JOIN uploads u ON u.id = c.dump_upload WHERE c.id = $1",
      {crash});
  if (row.empty() || !row[0][4]) return;
  const std::string pvbKey = TextOf(row[0][0]), unnamed = TextOf(row[0][2]);
  if (!IsNamedSignature(TextOf(row[0][4])) || IsNamedSignature(unnamed)) return;
  LockSignature(sql, unnamed);
  sql.Run("INSERT INTO signature_names (pvb_key, signature, named) VALUES ($1, $2, $3) "
          "ON CONFLICT (pvb_key, signature) DO NOTHING",
          {pvbKey, unnamed, TextOf(row[0][4])});
  // Another dump of the build may have named it first: its name holds.
  const std::int64_t old = IntOf(row[0][1]);
  const std::int64_t group = GroupFor(sql, unnamed, pvbKey, now);
  sql.Run("UPDATE crash_groups SET first_seen = $1 WHERE id = $2 AND first_seen > $1", {IntOf(row[0][3]), group});
  sql.Run("UPDATE crashes SET group_id = $1 WHERE group_id = $2 AND pvb_key = $3", {group, old, pvbKey});
  Recount(sql, old);
  Recount(sql, group);
  sql.Run("DELETE FROM crash_groups WHERE id = $1 AND NOT EXISTS (SELECT 1 FROM crashes WHERE group_id = $1)",
          {old});
}

std::int64_t Store::GroupNamed(Sql& sql, const std::string& signature, std::int64_t now) {
  sql.Run("INSERT INTO crash_groups (signature, first_seen) VALUES ($1, $2) ON CONFLICT (signature) DO NOTHING",
          {signature, now});
  return IntOf(sql.Run("SELECT id FROM crash_groups WHERE signature = $1", {signature}).at(0)[0]);
}

std::string Store::LinkFor(const std::string& signature) {
  std::string module = SignatureModule(signature);
  LowerAsciiInPlace(module);
  std::vector<LinkRule> rules;
  for (const SqlRow& row : database_->Read(
           "SELECT kind, pattern, url FROM link_rules WHERE (kind = 'exact' AND pattern = $1) OR "
           "(kind = 'prefix' AND substr($1, 1, length(pattern)) = pattern) OR "
           "(kind = 'module' AND lower(pattern) = $2) OR kind = 'any'",
           {signature, module})) {
    if (auto kind = LinkRuleKindNamed(TextOf(row[0]))) rules.push_back({*kind, TextOf(row[1]), TextOf(row[2])});
  }
  const LinkRule* chosen = ChooseLink(rules, signature);
  return chosen ? chosen->url : std::string();
}

// Asks for a crash's dump while its group holds fewer than K dumps of that build, counting the dumps asked
// for within the last day that have not arrived yet: a storm of one crash must not fetch a dump from each.
bool Store::DecideDump(Sql& sql, std::int64_t crash, std::int64_t group, const std::string& pvbKey,
                       std::int64_t now) {
  const SqlRows row = sql.Run("SELECT dump_asked, dump_upload FROM crashes WHERE id = $1", {crash});
  if (row.at(0)[1]) return false;
  if (row.at(0)[0]) return true;
  const std::int64_t held = IntOf(sql.Run(
      "SELECT COUNT(*) FROM crashes WHERE group_id = $1 AND pvb_key = $2 AND dump_asked IS NOT NULL AND "
      "(dump_upload IS NOT NULL OR dump_asked > $3)",
      {group, pvbKey, now - kDumpPromiseSeconds}).at(0)[0]);
  // The group's own K, set on its page, before the store's.
  const SqlRows own = sql.Run("SELECT dumps_per_group FROM crash_groups WHERE id = $1", {group});
  const std::int64_t most = !own.empty() && own[0][0] ? IntOf(own[0][0]) : DumpsPerGroup(sql);
  if (held >= most) return false;
  sql.Run("UPDATE crashes SET dump_asked = $1 WHERE id = $2", {now, crash});
  return true;
}

SolutionAnswer Store::RecordSolutionReport(const ReportFacts& facts, std::string_view document, std::int64_t now) {
  SolutionAnswer answer;
  std::string signature;
  const CrashArrival arrival{facts, facts.guid, document, Sha256Hex(ReportIdentity(document)),
                             facts.readable() ? CrashSignature(facts) : std::string(), now, now, std::nullopt, {}};
  database_->Transact([&](Sql& sql) {
    const std::int64_t crash = CrashRow(sql, arrival);
    sql.Run("UPDATE crashes SET solution_at = $1 WHERE id = $2 AND solution_at IS NULL", {now, crash});
    const SqlRows group = sql.Run("SELECT c.group_id, c.pvb_key, g.signature FROM crashes c LEFT JOIN "
                                  "crash_groups g ON g.id = c.group_id WHERE c.id = $1",
                                  {crash});
    answer.attachDump = group.at(0)[0] && DecideDump(sql, crash, IntOf(group[0][0]), TextOf(group[0][1]), now);
    if (group[0][2]) signature = TextOf(group[0][2]);
  });
  // The group's signature: the named one where a dump of the build named it.
  if (!signature.empty()) answer.link = LinkFor(signature);
  return answer;
}

std::vector<BuildPreference> Store::PreferencesFor(const std::vector<BuildPreference>& asked) {
  std::vector<BuildPreference> answer;
  for (const BuildPreference& build : asked) {
    const SqlRows rows = database_->Read("SELECT value FROM build_preferences WHERE pvb_key = $1",
                                         {MakePvbKey(build.product, build.version, build.build)});
    if (rows.empty() || TextOf(rows[0][0]) == build.value) continue;
    answer.push_back({build.product, build.version, build.build, TextOf(rows[0][0])});
  }
  return answer;
}

void Store::SaveEvent(const EventDocument& event, std::string_view body, std::int64_t now) {
  database_->Transact([&](Sql& sql) {
    sql.Run("INSERT INTO events (received, project, event_type, body) VALUES ($1, $2, $3, $4)",
            {now, event.project, event.type, std::string(body)});
  });
}

}  // namespace kx::server
