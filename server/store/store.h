// Everything kxserver keeps, behind one set of operations that run the same on both databases: uploads and
// their bytes, crashes and their groups, the processing queue, and what the admin sets. Safe from any number
// of threads, and on PostgreSQL from any number of instances.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rules/link_rules.h"
#include "rules/retention.h"
#include "store/blob_store.h"
#include "store/database.h"
#include "wire/exchange_bodies.h"
#include "wire/report_reader.h"
#include "wire/upload_names.h"

namespace kx::server {

// Where the store is: a data folder (SQLite and files) or a PostgreSQL URL.
struct StoreLocation {
  std::string dataFolder;
  std::string databaseUrl;
  std::string spoolFolder = "/tmp";  // PostgreSQL: where bodies wait until their transaction
  int connections = 16;
  // Where uploaded symbols go (--symbol-store; DATA/symbols on a data folder; none: symbols are not taken).
  std::string symbolStore;
};

inline constexpr std::int64_t kDefaultDumpsPerGroup = 5;
// A dump asked for and not arrived within this time no longer counts against the group's K.
inline constexpr std::int64_t kDumpPromiseSeconds = 24 * 3600;
// A job whose processing did not finish (the instance died, the walker hung) is offered again after this.
inline constexpr std::int64_t kJobLeaseSeconds = 300;
inline constexpr int kJobAttempts = 5;

struct SolutionAnswer {
  std::string link;  // empty: none
  bool attachDump = false;
};

struct Job {
  std::int64_t id = 0;
  std::int64_t uploadId = 0;
  int attempts = 0;
  std::string kind, guid, crashId, blob;
  std::uint64_t size = 0;
};

struct GroupSummary {
  std::int64_t id = 0;
  std::string signature;
  std::int64_t crashes = 0, dumps = 0, installations = 0, firstSeen = 0, lastSeen = 0;
  std::vector<std::string> builds;  // "product version build"
  std::int64_t otherBuilds = 0;      // builds left out of `builds`: the group list shows the latest few
  std::string link;
};

struct UploadSummary {
  std::int64_t id = 0;
  std::string guid, name, kind, sha256, state;
  std::uint64_t size = 0;
  std::int64_t received = 0;
};

// The pages' views. A filter's empty field matches anything.
struct GroupFilter {
  std::string product, version, build;
  std::string sort;  // crashes (the default), installations, first, last, signature
};
inline constexpr int kTrendDays = 14;
inline constexpr std::size_t kGroupListRows = 500;  // the group list shows at most this many
inline constexpr std::size_t kListedBuilds = 3;  // a group's builds the list shows: those with the latest crash

struct GroupListRow {
  GroupSummary group;
  std::vector<std::int64_t> trend;  // crashes a day, the last kTrendDays days up to today, oldest first
};

struct CrashSummary {
  std::int64_t id = 0, firstSeen = 0;
  std::string guid, product, version, build, exception, crashId;
  bool dump = false;
};

struct GroupDetail {
  GroupSummary group;
  std::optional<std::int64_t> dumpsPerGroup;  // the group's own K; nothing: the store's
  std::string ownLink;                        // the help link of the rule for exactly this signature
  std::vector<CrashSummary> crashes;          // the latest first, at most kGroupPageCrashes
  std::int64_t stackCrash = 0;                // the crash whose stack is shown: the latest with a walked dump
  std::string dumpJson;                       // its dump reader's JSON
  std::string stackText;                      // else: the latest crash's stack text, as its report has it
};
inline constexpr std::int64_t kGroupPageCrashes = 100;

struct CrashDetail {
  CrashSummary crash;
  std::int64_t groupId = 0;
  std::string signature, state, problem, dumpType, document;
  std::optional<UploadSummary> dump;      // its dump, when it arrived
  std::string dumpDetails;                // the dump reader's JSON, or why the dump could not be read
  std::vector<UploadSummary> attachments;
};

struct BuildRow {
  std::string product, version, build, preference;  // preference: empty when the store holds none
  std::int64_t crashes = 0, lastSeen = 0;
};

struct EventCount {
  std::string type;
  std::int64_t day = 0;  // days since 1970
  std::int64_t count = 0;
};

struct WebSession {
  std::string user, csrf;
};


struct CheckReport {
  std::int64_t uploads = 0;
  std::vector<std::string> problems;  // one line each: a stored file missing, cut or changed; a stray file
};

class Store {
 public:
  Store(std::unique_ptr<Database> database, std::unique_ptr<BlobStore> blobs);
  // Opens (creating when needed) and migrates.
  static std::unique_ptr<Store> Open(const StoreLocation& location);

  Database& database() { return *database_; }

  // Intake.
  std::unique_ptr<Spool> NewSpool() { return blobs_->NewSpool(); }
  bool HasUpload(const UploadIdentity& upload);
  // Durable when it returns; a file stored before is a duplicate and stored once.
  bool SaveUpload(const UploadIdentity& upload, Spool& spool, std::int64_t now);  // false: duplicate
  SolutionAnswer RecordSolutionReport(const ReportFacts& facts, std::string_view document, std::int64_t now);
  std::vector<BuildPreference> PreferencesFor(const std::vector<BuildPreference>& asked);
  void SaveEvent(const EventDocument& event, std::string_view body, std::int64_t now);

  // Processing.
  std::vector<Job> ClaimJobs(std::size_t most, std::int64_t now);
  bool ReadUpload(std::int64_t id, const std::string& blob, const std::function<bool(std::string_view)>& sink);
  void FinishReportJob(const Job& job, const ReportFacts& facts, std::string_view document, std::int64_t now);
  // `signature`: the crash's signature from the dump's walk, empty when it has none.
  void FinishDumpJob(const Job& job, bool readable, const std::string& details, const std::string& signature,
                     std::int64_t now);
  void GiveUpJob(const Job& job, const std::string& why);
  std::int64_t QueuedJobs();
  // Returns how many stored files it removed.
  std::int64_t ApplyRetention(const RetentionLimits& limits);
  // Files of uploads whose rows were never committed (a process killed between the two), kept before
  // `before`: removed.
  std::int64_t RemoveOrphans(std::int64_t before);
  // A file holding the upload's bytes, or empty when the store keeps them elsewhere.
  std::string LocalPath(const std::string& blob) const { return blobs_->LocalPath(blob); }

  // Administration.
  std::int64_t DumpsPerGroup();
  static std::int64_t DumpsPerGroup(Sql& sql);
  void SetSetting(const std::string& name, const std::string& value);
  std::optional<std::string> Setting(const std::string& name);
  void SetLink(const LinkRule& rule);
  bool RemoveLink(const LinkRule& rule);
  std::vector<LinkRule> Links();
  void SetPreference(const BuildPreference& preference);
  std::vector<BuildPreference> Preferences();
  std::vector<GroupSummary> Groups();
  std::vector<UploadSummary> Uploads();
  // Every stored file read back against its size and digest; strays kept before `before` are reported.
  CheckReport Check(std::int64_t before);

  // The pages (store_web.cpp).
  std::vector<GroupListRow> GroupList(const GroupFilter& filter, std::int64_t now);
  std::optional<GroupDetail> Group(std::int64_t id);
  std::optional<CrashDetail> Crash(std::int64_t id);
  // Every build crashes came from or a preference names, the latest first.
  std::vector<BuildRow> Builds();
  std::vector<EventCount> EventCounts(std::int64_t since);
  std::optional<UploadSummary> Upload(std::int64_t id);
  // The stored bytes of an upload, piece by piece; false when they cannot be read or the sink stopped.
  bool ReadUploadBytes(std::int64_t id, const std::function<bool(std::string_view)>& sink);
  // Nothing: the group follows the store's K again.
  void SetGroupDumps(std::int64_t id, std::optional<std::int64_t> dumpsPerGroup);
  void SetUser(const std::string& name, const std::string& passwordHash, std::int64_t now);
  std::optional<std::string> UserPassword(const std::string& name);
  // Sessions by the key of their token (web/secrets.h); an expired one is no session.
  void AddSession(const std::string& tokenKey, const std::string& user, const std::string& csrf,
                  std::int64_t expires, std::int64_t now);
  std::optional<WebSession> SessionFor(const std::string& tokenKey, std::int64_t now);
  void EndSession(const std::string& tokenKey);
  // Symbols of a build with these ids arrived: its dumps are walked again (queued), so that their crashes
  // take their names. Returns how many were queued.
  std::int64_t RequeueDumpsOf(const std::vector<std::string>& ids);
  // The processed dumps' reader JSON, the latest first, for what the symbols page counts.
  std::vector<std::string> DumpReadings(std::int64_t most);

 private:
  // A group's summary from a row of id, signature, first_seen, crashes, dumps, installations and latest crash,
  // the columns every group reader selects first.
  static GroupSummary SummaryOf(const SqlRow& row);
  // The row of a crash as it first arrived, by solution exchange or upload.
  // Its key and signature are worked out before the transaction: on SQLite every transaction runs on the one
  // writer thread.
  struct CrashArrival {
    const ReportFacts& facts;
    const std::string& guid;
    std::string_view document;
    std::string fingerprint, signature;
    std::int64_t now;
    std::optional<std::int64_t> solutionAt, reportUpload;
    std::string crashId;
  };
  // The crash's row for that installation and report text, made when there is none yet. Two requests (or
  // instances) making it at once make one: the unique key decides, and the other reads the winner's row.
  std::int64_t CrashRow(Sql& sql, const CrashArrival& arrival);
  // The group of `signature` as the crash's build knows it: the named one once a dump of the build named it.
  void LockSignature(Sql& sql, const std::string& signature);
  std::int64_t GroupFor(Sql& sql, const std::string& signature, const std::string& pvbKey, std::int64_t now);
  std::int64_t GroupNamed(Sql& sql, const std::string& signature, std::int64_t now);
  // Once symbols named the crash's frame in its dump, its build's unnamed signature stands for the named one
  // for good, and every crash of that build in the unnamed group joins the named group.
  void NameGroup(Sql& sql, std::int64_t crash, std::int64_t now);
  // The group list's counts (crash_groups' crashes, installations and last_seen, group_builds, group_days),
  // kept in the transaction that adds, moves or removes crashes: one crash added, or a group counted afresh.
  void Tally(Sql& sql, std::int64_t group, const CrashArrival& arrival);
  void Recount(Sql& sql, std::int64_t group);
  std::vector<GroupListRow> CountedGroupList(const GroupFilter& filter, std::int64_t now);
  std::string LinkFor(const std::string& signature);
  bool DecideDump(Sql& sql, std::int64_t crash, std::int64_t group, const std::string& pvbKey, std::int64_t now);
  void RemoveUploads(const std::vector<std::int64_t>& ids);

  std::unique_ptr<Database> database_;
  std::unique_ptr<BlobStore> blobs_;
};

}  // namespace kx::server
