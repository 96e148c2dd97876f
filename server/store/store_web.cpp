// What the pages read and set: the group list with its trend, one group, accounts and sessions.
#include <map>
#include <utility>

#include "prefs/pvb_key.h"
#include "store/store.h"

namespace kx::server {
namespace {

constexpr std::int64_t kDay = 24 * 3600;

// The crashes a filter keeps, as a condition on crashes `c` with parameters $1 to $3.
constexpr char kFiltered[] = "($1 = '' OR c.product = $1) AND ($2 = '' OR c.version = $2) AND ($3 = '' OR c.build = $3)";

// The sort orders a page may ask for, by name: never the page's own text in the statement.
std::string OrderOf(const std::string& sort) {
  static const std::map<std::string, std::string> orders = {
      {"installations", "COUNT(DISTINCT c.guid) DESC"}, {"first", "g.first_seen DESC"},
      {"last", "MAX(c.first_seen) DESC"},               {"signature", "g.signature ASC"}};
  const auto order = orders.find(sort);
  return (order == orders.end() ? std::string("COUNT(c.id) DESC") : order->second) + ", g.id";
}

constexpr char kSummaryColumns[] =
    "SELECT g.id, g.signature, g.first_seen, COUNT(c.id), COUNT(c.dump_upload), COUNT(DISTINCT c.guid), "
    "MAX(c.first_seen) FROM crash_groups g JOIN crashes c ON c.group_id = g.id ";

std::string CountedOrderOf(const std::string& sort) {
  static const std::map<std::string, std::string> orders = {{"installations", "g.installations DESC"},
                                                            {"first", "g.first_seen DESC"},
                                                            {"last", "g.last_seen DESC"},
                                                            {"signature", "g.signature ASC"}};
  const auto order = orders.find(sort);
  return (order == orders.end() ? std::string("g.crashes DESC") : order->second) + ", g.id";
}

// The same columns from the counts the intake keeps (store_counts.cpp), without dumps, which the list does not
// show, then the listed groups' latest builds, one column each, and their number of builds. The groups are
// chosen first, so that only theirs are read: a few entries from the front of group_builds_latest and a count.
std::string CountedListOf(const std::string& sort) {
  std::string statement = "SELECT g.id, g.signature, g.first_seen, g.crashes, 0, g.installations, g.last_seen";
  for (std::size_t place = 0; place < kListedBuilds; ++place)
    statement += ", (SELECT b.product || ' ' || b.version || ' ' || b.build FROM group_builds b WHERE b.group_id = "
                 "g.id ORDER BY b.last_seen DESC, b.product, b.version, b.build LIMIT 1 OFFSET " +
                 std::to_string(place) + ")";
  return statement + ", (SELECT COUNT(*) FROM group_builds b WHERE b.group_id = g.id) FROM (SELECT id, signature, "
                     "first_seen, crashes, installations, last_seen FROM crash_groups g WHERE g.crashes > 0 ORDER BY " +
         CountedOrderOf(sort) + " LIMIT " + std::to_string(kGroupListRows) + ") g ORDER BY " + CountedOrderOf(sort);
}

// The list shows a group's latest few builds and says how many more it has; its own page shows them all.
void ListBuild(GroupSummary& group, std::string build) {
  if (group.builds.size() < kListedBuilds) {
    group.builds.push_back(std::move(build));
  } else {
    ++group.otherBuilds;
  }
}

// A row of (group, day of the trend, crashes) into the listed group's trend; other groups' rows are not listed.
void PlaceTrendDay(std::vector<GroupListRow>& rows, const std::map<std::int64_t, std::size_t>& index,
                   const SqlRow& row) {
  const auto at = index.find(IntOf(row[0]));
  const std::int64_t day = IntOf(row[1], -1);
  if (at != index.end() && day >= 0 && day < kTrendDays) rows[at->second].trend[static_cast<std::size_t>(day)] = IntOf(row[2]);
}

void AttachLinks(std::vector<GroupListRow>& rows, const std::vector<LinkRule>& rules) {
  for (GroupListRow& row : rows) {
    if (const LinkRule* rule = ChooseLink(rules, row.group.signature)) row.group.link = rule->url;
  }
}

}  // namespace

// Unfiltered, the list reads the counts kept as crashes arrive; a filter by product, version or build counts
// the crashes it keeps, as an installation counted once across builds cannot be summed from builds' counts, and
// takes the builds it shows from the kept ones.
std::vector<GroupListRow> Store::GroupList(const GroupFilter& filter, std::int64_t now) {
  if (filter.product.empty() && filter.version.empty() && filter.build.empty()) return CountedGroupList(filter, now);
  const std::vector<SqlValue> words = {filter.product, filter.version, filter.build};
  std::vector<GroupListRow> rows;
  std::map<std::int64_t, std::size_t> index;
  for (const SqlRow& row : database_->Read(std::string(kSummaryColumns) + "WHERE " + kFiltered +
                                           " GROUP BY g.id, g.signature, g.first_seen ORDER BY " +
                                           OrderOf(filter.sort) + " LIMIT " + std::to_string(kGroupListRows),
                                           words)) {
    index[IntOf(row[0])] = rows.size();
    rows.push_back({SummaryOf(row), std::vector<std::int64_t>(kTrendDays, 0)});
  }
  // The kept builds (store_counts.cpp) the filter keeps: far fewer rows than their crashes. The filter's
  // condition names its table `c`.
  for (const SqlRow& row : database_->Read(std::string("SELECT c.group_id, c.product, c.version, c.build FROM "
                                                       "group_builds c WHERE ") +
                                           kFiltered + " ORDER BY c.group_id, c.last_seen DESC, c.product, "
                                           "c.version, c.build",
                                           words)) {
    const auto at = index.find(IntOf(row[0]));
    if (at != index.end())
      ListBuild(rows[at->second].group, TextOf(row[1]) + " " + TextOf(row[2]) + " " + TextOf(row[3]));
  }
  const std::int64_t since = (now / kDay - (kTrendDays - 1)) * kDay;
  std::vector<SqlValue> trendWords = words;
  trendWords.push_back(since);
  for (const SqlRow& row : database_->Read(std::string("SELECT c.group_id, (c.first_seen - $4) / 86400, COUNT(*) "
                                                       "FROM crashes c WHERE c.first_seen >= $4 AND ") +
                                           kFiltered + " GROUP BY c.group_id, (c.first_seen - $4) / 86400",
                                           trendWords)) {
    PlaceTrendDay(rows, index, row);
  }
  AttachLinks(rows, Links());
  return rows;
}

std::vector<GroupListRow> Store::CountedGroupList(const GroupFilter& filter, std::int64_t now) {
  std::vector<GroupListRow> rows;
  std::map<std::int64_t, std::size_t> index;
  for (const SqlRow& row : database_->Read(CountedListOf(filter.sort))) {
    index[IntOf(row[0])] = rows.size();
    rows.push_back({SummaryOf(row), std::vector<std::int64_t>(kTrendDays, 0)});
    GroupSummary& group = rows.back().group;
    const std::size_t firstBuild = 7;  // after the summary's columns
    for (std::size_t place = firstBuild; place < firstBuild + kListedBuilds; ++place) {
      if (row[place]) group.builds.push_back(TextOf(row[place]));
    }
    group.otherBuilds = IntOf(row[firstBuild + kListedBuilds]) - static_cast<std::int64_t>(group.builds.size());
  }
  const std::int64_t since = now / kDay - (kTrendDays - 1);
  for (const SqlRow& row : database_->Read("SELECT group_id, day - $1, crashes FROM group_days WHERE day >= $1",
                                           {since})) {
    PlaceTrendDay(rows, index, row);
  }
  AttachLinks(rows, Links());
  return rows;
}

std::optional<GroupDetail> Store::Group(std::int64_t id) {
  const SqlRows summary = database_->Read(
      "SELECT g.id, g.signature, g.first_seen, g.crashes, (SELECT COUNT(c.dump_upload) FROM crashes c WHERE "
      "c.group_id = g.id), g.installations, g.last_seen FROM crash_groups g WHERE g.id = $1 AND g.crashes > 0",
      {id});
  if (summary.empty()) return std::nullopt;
  GroupDetail detail;
  detail.group = SummaryOf(summary[0]);
  for (const SqlRow& row : database_->Read("SELECT product, version, build FROM group_builds WHERE group_id = $1 "
                                           "ORDER BY product, version, build", {id}))
    detail.group.builds.push_back(TextOf(row[0]) + " " + TextOf(row[1]) + " " + TextOf(row[2]));
  const SqlRows own = database_->Read("SELECT dumps_per_group FROM crash_groups WHERE id = $1", {id});
  if (!own.empty() && own[0][0]) detail.dumpsPerGroup = IntOf(own[0][0]);
  const std::vector<LinkRule> rules = Links();
  if (const LinkRule* rule = ChooseLink(rules, detail.group.signature)) detail.group.link = rule->url;
  for (const LinkRule& rule : rules) {
    if (rule.kind == LinkRuleKind::kExact && rule.pattern == detail.group.signature) detail.ownLink = rule.url;
  }
  for (const SqlRow& row : database_->Read(
           "SELECT id, first_seen, guid, product, version, build, exception, crash_id, dump_upload FROM crashes "
           "WHERE group_id = $1 ORDER BY first_seen DESC, id DESC LIMIT $2",
           {id, kGroupPageCrashes})) {
    detail.crashes.push_back({IntOf(row[0]), IntOf(row[1]), TextOf(row[2]), TextOf(row[3]), TextOf(row[4]),
                              TextOf(row[5]), TextOf(row[6]), TextOf(row[7]), row[8].has_value()});
  }
  const SqlRows walked = database_->Read(
      "SELECT c.id, u.details FROM crashes c JOIN uploads u ON u.id = c.dump_upload WHERE c.group_id = $1 AND "
      "u.state = 'processed' ORDER BY c.first_seen DESC, c.id DESC LIMIT 1",
      {id});
  if (!walked.empty()) {
    detail.stackCrash = IntOf(walked[0][0]);
    detail.dumpJson = TextOf(walked[0][1]);
  } else if (!detail.crashes.empty()) {
    detail.stackCrash = detail.crashes[0].id;
    const SqlRows document = database_->Read("SELECT document FROM crashes WHERE id = $1", {detail.stackCrash});
    if (!document.empty()) detail.stackText = ReadReport(TextOf(document[0][0])).stackText;
  }
  return detail;
}

namespace {

constexpr char kUploadColumns[] = "SELECT id, guid, name, kind, sha256, state, size, received, details FROM uploads ";

UploadSummary UploadOf(const SqlRow& row) {
  return {IntOf(row[0]), TextOf(row[1]), TextOf(row[2]), TextOf(row[3]), TextOf(row[4]),
          TextOf(row[5]), static_cast<std::uint64_t>(IntOf(row[6])), IntOf(row[7])};
}

}  // namespace

std::optional<CrashDetail> Store::Crash(std::int64_t id) {
  const SqlRows rows = database_->Read(
      "SELECT c.id, c.first_seen, c.guid, c.product, c.version, c.build, c.exception, c.crash_id, c.dump_upload, "
      "c.group_id, g.signature, c.state, c.problem, c.dump_type, c.document FROM crashes c LEFT JOIN crash_groups g "
      "ON g.id = c.group_id WHERE c.id = $1",
      {id});
  if (rows.empty()) return std::nullopt;
  const SqlRow& row = rows[0];
  CrashDetail detail;
  detail.crash = {IntOf(row[0]), IntOf(row[1]), TextOf(row[2]), TextOf(row[3]), TextOf(row[4]),
                  TextOf(row[5]), TextOf(row[6]), TextOf(row[7]), row[8].has_value()};
  detail.groupId = IntOf(row[9]);
  detail.signature = TextOf(row[10]);
  detail.state = TextOf(row[11]);
  detail.problem = TextOf(row[12]);
  detail.dumpType = TextOf(row[13]);
  detail.document = TextOf(row[14]);
  if (row[8]) {
    const SqlRows dump = database_->Read(std::string(kUploadColumns) + "WHERE id = $1", {IntOf(row[8])});
    if (!dump.empty()) {
      detail.dump = UploadOf(dump[0]);
      detail.dumpDetails = TextOf(dump[0][8]);
    }
  }
  if (!detail.crash.crashId.empty()) {
    for (const SqlRow& attachment : database_->Read(std::string(kUploadColumns) +
                                                    "WHERE guid = $1 AND crash_id = $2 AND kind = 'attachment' "
                                                    "ORDER BY name",
                                                    {detail.crash.guid, detail.crash.crashId}))
      detail.attachments.push_back(UploadOf(attachment));
  }
  return detail;
}

std::optional<UploadSummary> Store::Upload(std::int64_t id) {
  const SqlRows rows = database_->Read(std::string(kUploadColumns) + "WHERE id = $1", {id});
  if (rows.empty()) return std::nullopt;
  return UploadOf(rows[0]);
}

bool Store::ReadUploadBytes(std::int64_t id, const std::function<bool(std::string_view)>& sink) {
  const SqlRows rows = database_->Read("SELECT blob FROM uploads WHERE id = $1", {id});
  return !rows.empty() && blobs_->Read(*database_, id, TextOf(rows[0][0]), sink);
}

std::vector<BuildRow> Store::Builds() {
  std::vector<BuildRow> builds;
  std::map<std::string, std::size_t> index;
  for (const SqlRow& row : database_->Read("SELECT product, version, build, COUNT(*), MAX(first_seen) FROM crashes "
                                           "WHERE product IS NOT NULL GROUP BY product, version, build "
                                           "ORDER BY MAX(first_seen) DESC")) {
    index[MakePvbKey(TextOf(row[0]), TextOf(row[1]), TextOf(row[2]))] = builds.size();
    builds.push_back({TextOf(row[0]), TextOf(row[1]), TextOf(row[2]), {}, IntOf(row[3]), IntOf(row[4])});
  }
  for (const BuildPreference& preference : Preferences()) {
    const auto at = index.find(MakePvbKey(preference.product, preference.version, preference.build));
    if (at != index.end()) {
      builds[at->second].preference = preference.value;
    } else {
      builds.push_back({preference.product, preference.version, preference.build, preference.value, 0, 0});
    }
  }
  return builds;
}

std::vector<EventCount> Store::EventCounts(std::int64_t since) {
  std::vector<EventCount> counts;
  for (const SqlRow& row : database_->Read("SELECT event_type, received / 86400, COUNT(*) FROM events WHERE "
                                           "received >= $1 GROUP BY event_type, received / 86400 "
                                           "ORDER BY event_type, received / 86400",
                                           {since}))
    counts.push_back({TextOf(row[0]), IntOf(row[1]), IntOf(row[2])});
  return counts;
}

std::int64_t Store::RequeueDumpsOf(const std::vector<std::string>& ids) {
  std::int64_t queued = 0;
  database_->Transact([&](Sql& sql) {
    queued = 0;
    for (const std::string& id : ids) {
      // The reader's JSON names every module's ids as "debug_id": "ID" and "code_id": "ID".
      queued += static_cast<std::int64_t>(
          sql.Run("INSERT INTO jobs (upload_id, lease_until, attempts) SELECT id, 0, 0 FROM uploads u WHERE "
                  "kind = 'dump' AND state = 'processed' AND details LIKE $1 AND NOT EXISTS (SELECT 1 FROM jobs j "
                  "WHERE j.upload_id = u.id) RETURNING id",
                  {"%\"" + id + "\"%"}).size());
    }
  });
  return queued;
}

std::vector<std::string> Store::DumpReadings(std::int64_t most) {
  std::vector<std::string> readings;
  for (const SqlRow& row : database_->Read("SELECT details FROM uploads WHERE kind = 'dump' AND state = 'processed' "
                                           "ORDER BY id DESC LIMIT $1", {most}))
    readings.push_back(TextOf(row[0]));
  return readings;
}

void Store::SetGroupDumps(std::int64_t id, std::optional<std::int64_t> dumpsPerGroup) {
  database_->Transact([&](Sql& sql) {
    sql.Run("UPDATE crash_groups SET dumps_per_group = $1 WHERE id = $2", {NullableId(dumpsPerGroup), id});
  });
}

void Store::SetUser(const std::string& name, const std::string& passwordHash, std::int64_t now) {
  database_->Transact([&](Sql& sql) {
    sql.Run("INSERT INTO users (name, password, created) VALUES ($1, $2, $3) ON CONFLICT (name) DO UPDATE SET "
            "password = $2",
            {name, passwordHash, now});
    // A new password ends the sessions the old one opened.
    sql.Run("DELETE FROM sessions WHERE user_name = $1", {name});
  });
}

std::optional<std::string> Store::UserPassword(const std::string& name) {
  const SqlRows rows = database_->Read("SELECT password FROM users WHERE name = $1", {name});
  if (rows.empty()) return std::nullopt;
  return TextOf(rows[0][0]);
}

void Store::AddSession(const std::string& tokenKey, const std::string& user, const std::string& csrf,
                       std::int64_t expires, std::int64_t now) {
  database_->Transact([&](Sql& sql) {
    sql.Run("DELETE FROM sessions WHERE expires <= $1", {now});
    sql.Run("INSERT INTO sessions (token, user_name, csrf, expires) VALUES ($1, $2, $3, $4)",
            {tokenKey, user, csrf, expires});
  });
}

std::optional<WebSession> Store::SessionFor(const std::string& tokenKey, std::int64_t now) {
  const SqlRows rows = database_->Read("SELECT user_name, csrf FROM sessions WHERE token = $1 AND expires > $2",
                                       {tokenKey, now});
  if (rows.empty()) return std::nullopt;
  return WebSession{TextOf(rows[0][0]), TextOf(rows[0][1])};
}

void Store::EndSession(const std::string& tokenKey) {
  database_->Transact([&](Sql& sql) { sql.Run("DELETE FROM sessions WHERE token = $1", {tokenKey}); });
}

}  // namespace kx::server
