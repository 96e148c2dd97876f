#include "admin/admin.h"

#include <ctime>
#include <functional>
#include <map>
#include <optional>

#include <nlohmann/json.hpp>

#include <filesystem>

#include "rules/link_rules.h"
#include "store/file_io.h"
#include "symbols/symbol_files.h"
#include "web/secrets.h"
#include "wire/exchange_bodies.h"

namespace kx::server {
namespace {

using nlohmann::json;

struct Command {
  std::size_t words;  // after the command word; the optional --json not counted
  const char* usage;
  std::function<int(Store&, const std::vector<std::string>&, bool json, std::FILE*, std::FILE*)> run;
};

void Print(std::FILE* out, const std::string& text) { std::fputs(text.c_str(), out); }

int Groups(Store& store, const std::vector<std::string>&, bool asJson, std::FILE* out, std::FILE*) {
  const std::vector<GroupSummary> groups = store.Groups();
  json list = json::array();
  for (const GroupSummary& group : groups) {
    list.push_back({{"id", group.id}, {"signature", group.signature}, {"crashes", group.crashes}, {"dumps", group.dumps},
                    {"installations", group.installations}, {"first_seen", group.firstSeen},
                    {"last_seen", group.lastSeen}, {"builds", group.builds},
                    {"link", group.link.empty() ? json(nullptr) : json(group.link)}});
    if (!asJson) {
      Print(out, group.signature + "  crashes " + std::to_string(group.crashes) + ", dumps " +
                     std::to_string(group.dumps) + ", installations " + std::to_string(group.installations) +
                     (group.link.empty() ? "" : ", link " + group.link) + "\n");
    }
  }
  if (asJson) Print(out, list.dump(2) + "\n");
  return 0;
}

int Link(Store& store, const std::vector<std::string>& words, bool, std::FILE*, std::FILE* err) {
  const std::optional<LinkRule> rule = MakeLinkRule(words[0], words[1]);
  if (!rule) {
    Print(err, "kxserver: a rule needs a pattern, and the link must be an http(s) link without blanks or quotes\n");
    return 2;
  }
  store.SetLink(*rule);
  return 0;
}

int Unlink(Store& store, const std::vector<std::string>& words, bool, std::FILE*, std::FILE* err) {
  const std::optional<LinkRule> rule = MakeLinkRule(words[0], "https://x");
  if (!rule || !store.RemoveLink(*rule)) {
    Print(err, "kxserver: no such rule: " + words[0] + "\n");
    return 1;
  }
  return 0;
}

int Links(Store& store, const std::vector<std::string>&, bool asJson, std::FILE* out, std::FILE*) {
  json list = json::array();
  for (const LinkRule& rule : store.Links()) {
    list.push_back({{"rule", LinkRuleText(rule)}, {"kind", LinkRuleKindName(rule.kind)}, {"url", rule.url}});
    if (!asJson) Print(out, LinkRuleText(rule) + "  " + rule.url + "\n");
  }
  if (asJson) Print(out, list.dump(2) + "\n");
  return 0;
}

bool ReadCount(const std::string& word, std::int64_t& value) {
  if (word.empty() || word.size() > 12 || word.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::stoll(word);
  return true;
}

int DumpsPerGroup(Store& store, const std::vector<std::string>& words, bool, std::FILE*, std::FILE* err) {
  std::int64_t k = 0;
  if (!ReadCount(words[0], k)) {
    Print(err, "kxserver: K is a number of dumps (0: ask for none)\n");
    return 2;
  }
  store.SetSetting("dumps_per_group", std::to_string(k));
  return 0;
}

int Preference(Store& store, const std::vector<std::string>& words, bool, std::FILE*, std::FILE* err) {
  const BuildPreference preference{words[0], words[1], words[2], words[3]};
  for (const std::string& part : {words[0], words[1], words[2]}) {
    if (!TravelsPlain(part) || part.find(';') != std::string::npos) {
      Print(err, "kxserver: product, version and build must be printable ASCII without \" \\ { } ;\n");
      return 2;
    }
  }
  if (!IsPreferenceValue(words[3])) {
    Print(err, "kxserver: VALUE is numbers joined by _, the dump kind first (0 mini, 1 full): 1_1_100\n");
    return 2;
  }
  store.SetPreference(preference);
  return 0;
}

int Preferences(Store& store, const std::vector<std::string>&, bool asJson, std::FILE* out, std::FILE*) {
  json list = json::array();
  for (const BuildPreference& build : store.Preferences()) {
    list.push_back({{"product", build.product}, {"version", build.version}, {"build", build.build},
                    {"preferences", build.value}});
    if (!asJson) Print(out, build.product + " " + build.version + " " + build.build + "  " + build.value + "\n");
  }
  if (asJson) Print(out, list.dump(2) + "\n");
  return 0;
}

int Retention(Store& store, const std::vector<std::string>& words, bool, std::FILE*, std::FILE* err) {
  std::int64_t days = 0, mib = 0;
  if (!ReadCount(words[0], days) || !ReadCount(words[1], mib)) {
    Print(err, "kxserver: DAYS and MIB are numbers (0: no limit)\n");
    return 2;
  }
  store.SetSetting("keep_days", std::to_string(days));
  store.SetSetting("keep_mib", std::to_string(mib));
  return 0;
}

int Uploads(Store& store, const std::vector<std::string>&, bool asJson, std::FILE* out, std::FILE*) {
  json list = json::array();
  for (const UploadSummary& upload : store.Uploads()) {
    list.push_back({{"guid", upload.guid}, {"name", upload.name}, {"kind", upload.kind}, {"size", upload.size},
                    {"sha256", upload.sha256}, {"state", upload.state}, {"received", upload.received}});
    if (!asJson)
      Print(out, upload.kind + " " + upload.name + " " + std::to_string(upload.size) + " " + upload.state + "\n");
  }
  if (asJson) Print(out, list.dump(2) + "\n");
  return 0;
}

int Check(Store& store, const std::vector<std::string>&, bool, std::FILE* out, std::FILE*) {
  const CheckReport report = store.Check(static_cast<std::int64_t>(std::time(nullptr)) + 1);
  for (const std::string& problem : report.problems) Print(out, problem + "\n");
  Print(out, std::to_string(report.uploads) + " stored files read back, " + std::to_string(report.problems.size()) +
                 " problems\n");
  return report.problems.empty() ? 0 : 1;
}

// One line of standard input without its line end; nothing at its end.
std::optional<std::string> ReadLine(std::FILE* in) {
  std::string line;
  for (int c; (c = std::fgetc(in)) != EOF;) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    line += static_cast<char>(c);
  }
  if (line.empty()) return std::nullopt;
  return line;
}

// The password twice on standard input (a terminal or a pipe); no default, none shorter than 8 characters.
int User(Store& store, const std::vector<std::string>& words, std::FILE* in, std::FILE* err) {
  const std::string& name = words[0];
  if (name.empty() || name.size() > 64 || name.find_first_of(" \t\r\n") != std::string::npos) {
    Print(err, "kxserver: NAME is a word of at most 64 characters\n");
    return 2;
  }
  Print(err, "password for " + name + ", twice, one a line:\n");
  const std::optional<std::string> first = ReadLine(in), second = ReadLine(in);
  if (!first || !second || *first != *second) {
    Print(err, "kxserver: the two passwords differ or are missing; nothing changed\n");
    return 1;
  }
  if (first->size() < 8) {
    Print(err, "kxserver: a password has at least 8 characters; nothing changed\n");
    return 1;
  }
  store.SetUser(name, web::HashPassword(*first), static_cast<std::int64_t>(std::time(nullptr)));
  Print(err, "kxserver: " + name + " may log in to the pages\n");
  return 0;
}

// Copies each file into the symbol store's incoming name, places it, and queues the walks it may name.
int AddSymbols(Store& store, const std::string& symbolStore, const std::vector<std::string>& files, std::FILE* out,
               std::FILE* err) {
  if (symbolStore.empty() || !MakeFolders(symbolStore)) {
    Print(err, "kxserver: give --symbol-store DIR (on a data folder it is DIR/symbols)\n");
    return 2;
  }
  int status = 0;
  for (const std::string& file : files) {
    const std::string incoming = IncomingPath(symbolStore);
    std::error_code error;
    if (!std::filesystem::copy_file(file, incoming, error)) {
      Print(err, "kxserver: cannot read " + file + ": " + error.message() + "\n");
      status = 1;
      continue;
    }
    const StoredSymbols stored = PlaceSymbolFile(symbolStore, std::filesystem::path(file).filename().string(), incoming);
    if (!stored.error.empty()) {
      Print(err, "kxserver: " + file + ": " + stored.error + "\n");
      status = 1;
      continue;
    }
    for (const std::string& path : stored.paths) Print(out, path + (stored.added ? "\n" : " (stored before)\n"));
    Print(out, std::to_string(store.RequeueDumpsOf(stored.ids)) + " dumps to walk again\n");
  }
  return status;
}

const std::map<std::string, Command>& Commands() {
  static const std::map<std::string, Command> commands = {
      {"groups", {0, "groups [--json]", Groups}},
      {"link", {2, "link RULE URL", Link}},
      {"unlink", {1, "unlink RULE", Unlink}},
      {"links", {0, "links [--json]", Links}},
      {"dumps-per-group", {1, "dumps-per-group K", DumpsPerGroup}},
      {"preference", {4, "preference PRODUCT VERSION BUILD VALUE", Preference}},
      {"preferences", {0, "preferences [--json]", Preferences}},
      {"retention", {2, "retention DAYS MIB", Retention}},
      {"uploads", {0, "uploads [--json]", Uploads}},
      {"check", {0, "check", Check}},
  };
  return commands;
}

}  // namespace

int RunAdmin(Store& store, const ProcessorOptions& processing, const std::vector<std::string>& words,
             std::FILE* in, std::FILE* out, std::FILE* err) {
  if (words.size() >= 3 && words[0] == "symbols" && words[1] == "add") {
    try {
      return AddSymbols(store, processing.symbolStore, {words.begin() + 2, words.end()}, out, err);
    } catch (const std::exception& error) {
      Print(err, std::string("kxserver: ") + error.what() + "\n");
      return 1;
    }
  }
  if (words.size() == 2 && words[0] == "user") {
    try {
      return User(store, {words[1]}, in, err);
    } catch (const std::exception& error) {
      Print(err, std::string("kxserver: ") + error.what() + "\n");
      return 1;
    }
  }
  if (words.size() == 1 && words[0] == "process") {
    Processor processor(store, processing);
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    std::size_t jobs = 0;
    for (std::size_t taken; (taken = processor.RunQueue(now)) > 0;) jobs += taken;
    const std::int64_t removed = processor.RunRetention(now);
    Print(out, std::to_string(jobs) + " uploads processed, " + std::to_string(removed) + " files removed\n");
    return 0;
  }
  const auto command = words.empty() ? Commands().end() : Commands().find(words[0]);
  std::vector<std::string> rest(words.begin() + (words.empty() ? 0 : 1), words.end());
  const bool asJson = !rest.empty() && rest.back() == "--json";
  if (asJson) rest.pop_back();
  if (command == Commands().end() || rest.size() != command->second.words) {
    Print(err, "usage: kxserver admin (--data DIR | --database URL) COMMAND, COMMAND one of:\n");
    for (const auto& entry : Commands()) Print(err, std::string("  ") + entry.second.usage + "\n");
    Print(err, "  process\n  user NAME                (the password twice on standard input)\n"
               "  symbols add FILE...      (into --symbol-store DIR; DIR/symbols of a data folder)\n");
    return 2;
  }
  try {
    return command->second.run(store, rest, asJson, out, err);
  } catch (const std::exception& error) {
    Print(err, std::string("kxserver: ") + error.what() + "\n");
    return 1;
  }
}

}  // namespace kx::server
