// What the admin sets and reads: settings, help links, build preferences, the groups, and a check of every
// stored file.
#include <map>

#include "prefs/pvb_key.h"
#include "store/store.h"
#include "wire/digest.h"

namespace kx::server {

std::int64_t Store::DumpsPerGroup(Sql& sql) {
  const SqlRows rows = sql.Run("SELECT value FROM settings WHERE name = 'dumps_per_group'");
  return rows.empty() ? kDefaultDumpsPerGroup : IntOf(rows[0][0], kDefaultDumpsPerGroup);
}

std::int64_t Store::DumpsPerGroup() {
  const std::optional<std::string> value = Setting("dumps_per_group");
  return value ? IntOf(value, kDefaultDumpsPerGroup) : kDefaultDumpsPerGroup;
}

std::optional<std::string> Store::Setting(const std::string& name) {
  const SqlRows rows = database_->Read("SELECT value FROM settings WHERE name = $1", {name});
  if (rows.empty()) return std::nullopt;
  return TextOf(rows[0][0]);
}

void Store::SetSetting(const std::string& name, const std::string& value) {
  database_->Transact([&](Sql& sql) {
    sql.Run("INSERT INTO settings (name, value) VALUES ($1, $2) ON CONFLICT (name) DO UPDATE SET value = $2",
            {name, value});
  });
}

void Store::SetLink(const LinkRule& rule) {
  database_->Transact([&](Sql& sql) {
    sql.Run("INSERT INTO link_rules (kind, pattern, url) VALUES ($1, $2, $3) ON CONFLICT (kind, pattern) DO "
            "UPDATE SET url = $3",
            {LinkRuleKindName(rule.kind), rule.pattern, rule.url});
  });
}

bool Store::RemoveLink(const LinkRule& rule) {
  bool removed = false;
  database_->Transact([&](Sql& sql) {
    removed = !sql.Run("DELETE FROM link_rules WHERE kind = $1 AND pattern = $2 RETURNING url",
                       {LinkRuleKindName(rule.kind), rule.pattern})
                   .empty();
  });
  return removed;
}

std::vector<LinkRule> Store::Links() {
  std::vector<LinkRule> rules;
  for (const SqlRow& row : database_->Read("SELECT kind, pattern, url FROM link_rules ORDER BY kind, pattern")) {
    if (auto kind = LinkRuleKindNamed(TextOf(row[0]))) rules.push_back({*kind, TextOf(row[1]), TextOf(row[2])});
  }
  return rules;
}

void Store::SetPreference(const BuildPreference& preference) {
  database_->Transact([&](Sql& sql) {
    sql.Run("INSERT INTO build_preferences (pvb_key, product, version, build, value) VALUES ($1, $2, $3, $4, $5) "
            "ON CONFLICT (pvb_key) DO UPDATE SET value = $5",
            {MakePvbKey(preference.product, preference.version, preference.build), preference.product,
             preference.version, preference.build, preference.value});
  });
}

std::vector<BuildPreference> Store::Preferences() {
  std::vector<BuildPreference> preferences;
  for (const SqlRow& row :
       database_->Read("SELECT product, version, build, value FROM build_preferences ORDER BY pvb_key")) {
    preferences.push_back({TextOf(row[0]), TextOf(row[1]), TextOf(row[2]), TextOf(row[3])});
  }
  return preferences;
}

GroupSummary Store::SummaryOf(const SqlRow& row) {
  GroupSummary group;
  group.id = IntOf(row[0]);
  group.signature = TextOf(row[1]);
  group.firstSeen = IntOf(row[2]);
  group.crashes = IntOf(row[3]);
  group.dumps = IntOf(row[4]);
  group.installations = IntOf(row[5]);
  group.lastSeen = IntOf(row[6], group.firstSeen);
  return group;
}

std::vector<GroupSummary> Store::Groups() {
  std::vector<GroupSummary> groups;
  std::map<std::int64_t, std::size_t> index;
  for (const SqlRow& row : database_->Read(
           "SELECT g.id, g.signature, g.first_seen, COUNT(c.id), COUNT(c.dump_upload), COUNT(DISTINCT c.guid), "
           "MAX(c.first_seen) FROM crash_groups g LEFT JOIN crashes c ON c.group_id = g.id "
           "GROUP BY g.id, g.signature, g.first_seen ORDER BY COUNT(c.id) DESC, g.id")) {
    GroupSummary group = SummaryOf(row);
    index[group.id] = groups.size();
    groups.push_back(std::move(group));
  }
  for (const SqlRow& row : database_->Read("SELECT DISTINCT group_id, product, version, build FROM crashes "
                                           "WHERE group_id IS NOT NULL ORDER BY group_id, product, version, build")) {
    const auto at = index.find(IntOf(row[0]));
    if (at != index.end())
      groups[at->second].builds.push_back(TextOf(row[1]) + " " + TextOf(row[2]) + " " + TextOf(row[3]));
  }
  const std::vector<LinkRule> rules = Links();
  for (GroupSummary& group : groups) {
    if (const LinkRule* rule = ChooseLink(rules, group.signature)) group.link = rule->url;
  }
  return groups;
}

std::vector<UploadSummary> Store::Uploads() {
  std::vector<UploadSummary> uploads;
  for (const SqlRow& row : database_->Read(
           "SELECT id, guid, name, kind, size, sha256, state, received FROM uploads ORDER BY id")) {
    uploads.push_back({IntOf(row[0]), TextOf(row[1]), TextOf(row[2]), TextOf(row[3]), TextOf(row[5]),
                       TextOf(row[6]), static_cast<std::uint64_t>(IntOf(row[4])), IntOf(row[7])});
  }
  return uploads;
}

CheckReport Store::Check(std::int64_t before) {
  CheckReport report;
  for (const SqlRow& row : database_->Read("SELECT id, name, size, sha256, blob FROM uploads ORDER BY id")) {
    ++report.uploads;
    Sha256 digest;
    std::uint64_t size = 0;
    const bool read = blobs_->Read(*database_, IntOf(row[0]), TextOf(row[4]), [&](std::string_view piece) {
      digest.Add(piece);
      size += piece.size();
      return true;
    });
    const std::string what = "upload " + TextOf(row[0]) + " (" + TextOf(row[1]) + ")";
    if (!read) {
      report.problems.push_back(what + ": its bytes cannot be read");
    } else if (size != static_cast<std::uint64_t>(IntOf(row[2]))) {
      report.problems.push_back(what + ": " + std::to_string(size) + " bytes, not the " + TextOf(row[2]) +
                                " bytes received");
    } else if (digest.Hex() != TextOf(row[3])) {
      report.problems.push_back(what + ": its bytes are not the ones received (SHA-256)");
    }
  }
  for (const std::string& orphan : blobs_->Orphans(*database_, before, true))
    report.problems.push_back("stray, named by no upload: " + orphan);
  return report;
}

}  // namespace kx::server
