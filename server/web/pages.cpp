#include "web/pages.h"

#include <algorithm>

#include "web/dump_view.h"
#include "web/html.h"
#include "web/report_view.h"

namespace kx::server::web {
namespace {

void Head(Html& html, const std::string& title) {
  html << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" << title
       << " - kxserver</title><link rel=\"stylesheet\" href=\"/static/style.css\"></head><body>";
}

void Top(Html& html, const Viewer& viewer, const std::string& title) {
  Head(html, title);
  html << "<header><a class=\"home\" href=\"/\">kxserver</a> <a href=\"/\">Crash groups</a>"
          "<a href=\"/builds\">Builds</a><a href=\"/rules\">Help links</a><a href=\"/events\">Events</a>"
          "<a href=\"/symbols\">Symbols</a>"
       << "<form class=\"logout\" method=\"post\" action=\"/logout\"><input type=\"hidden\" name=\"csrf\" value=\""
       << viewer.csrf << "\"><span>" << viewer.user << "</span> <button>Log out</button></form></header><main>";
}

std::string End(Html& html) {
  html << "</main></body></html>\n";
  return html.str();
}

// A link when the text is one a browser may open safely, the text alone otherwise.
void Link(Html& html, const std::string& url) {
  const std::string safe = SafeLink(url);
  if (safe.empty()) {
    html << url;
  } else {
    html << "<a rel=\"noreferrer\" href=\"" << safe << "\">" << safe << "</a>";
  }
}

void Hidden(Html& html, const char* name, const std::string& value) {
  html << "<input type=\"hidden\" name=\"" << std::string(name) << "\" value=\"" << value << "\">";
}

std::string Trend(const std::vector<std::int64_t>& days) {
  static const char* const kBars[] = {"\u2581", "\u2582", "\u2583", "\u2584", "\u2585", "\u2586", "\u2587", "\u2588"};
  const std::int64_t most = days.empty() ? 0 : *std::max_element(days.begin(), days.end());
  std::string bars;
  for (const std::int64_t count : days) bars += count == 0 ? "\u00B7" : kBars[most > 0 ? (count * 7) / most : 0];
  return bars;
}

std::string GroupsQuery(const GroupFilter& filter, const std::string& sort) {
  return "/?product=" + EncodeComponent(filter.product) + "&version=" + EncodeComponent(filter.version) +
         "&build=" + EncodeComponent(filter.build) + "&sort=" + sort;
}

void SortHeader(Html& html, const GroupFilter& filter, const char* sort, const char* label) {
  html << "<th><a href=\"" << GroupsQuery(filter, sort) << "\">" << std::string(label)
       << (filter.sort == sort ? std::string(" \u25BE") : std::string()) << "</a></th>";
}

void FilterForm(Html& html, const GroupFilter& filter) {
  html << "<form class=\"filter\" method=\"get\" action=\"/\">";
  const std::pair<const char*, const std::string*> fields[] = {
      {"product", &filter.product}, {"version", &filter.version}, {"build", &filter.build}};
  for (const auto& field : fields) {
    html << "<label>" << std::string(field.first) << " <input name=\"" << std::string(field.first) << "\" value=\""
         << *field.second << "\"></label> ";
  }
  Hidden(html, "sort", filter.sort);
  html << "<button>Filter</button></form>";
}

void Frames(Html& html, const ThreadView& thread) {
  html << "<table class=\"stack\"><tr><th>#</th><th>Where</th><th>Function</th><th>File and line</th>"
          "<th>Found by</th></tr>";
  std::int64_t number = 0;
  for (const FrameView& frame : thread.frames) {
    html << "<tr><td>" << number++ << "</td><td>"
         << (frame.module.empty() ? frame.address : frame.module + "+" + frame.offset) << "</td><td>";
    if (frame.functions.empty()) html << "<span class=\"unnamed\">not named</span>";
    std::string files;
    for (std::size_t at = 0; at < frame.functions.size(); ++at) {
      const FunctionView& function = frame.functions[at];
      if (at > 0) html << "<br><span class=\"inlined\">inlined into</span> ";
      html << function.name;
      if (at > 0) files += "\n";
      files += function.file.empty() ? "?" : function.file + (function.line ? ":" + std::to_string(function.line) : "");
    }
    html << "</td><td class=\"file\">" << files << "</td><td class=\"trust-" << frame.trust << "\">" << frame.trust
         << "</td></tr>";
  }
  html << "</table>";
}

void LatestStack(Html& html, const GroupDetail& detail) {
  html << "<h2>Stack of the latest crash (" << detail.stackCrash << ")</h2>";
  const std::optional<DumpView> dump = detail.dumpJson.empty() ? std::nullopt : ReadDumpView(detail.dumpJson);
  const auto crashed = dump ? std::find_if(dump->threads.begin(), dump->threads.end(),
                                           [](const ThreadView& thread) { return thread.crashed; })
                            : std::vector<ThreadView>::const_iterator();
  if (dump && crashed != dump->threads.end()) {
    html << "<p>The crashed thread " << crashed->id << ", walked from its dump"
         << (dump->exception.empty() ? std::string() : ": " + dump->exception) << ".</p>";
    Frames(html, *crashed);
  } else if (!detail.stackText.empty()) {
    html << "<p>No walked dump yet: the stack as the report gives it.</p><pre class=\"stack-text\">"
         << detail.stackText << "</pre>";
  } else {
    html << "<p>No stack yet.</p>";
  }
}

void Settings(Html& html, const Viewer& viewer, const GroupDetail& detail, std::int64_t storeK) {
  const std::string action = "/groups/" + std::to_string(detail.group.id);
  html << "<h2>Help link and dump sampling</h2><form class=\"setting\" method=\"post\" action=\"" << action << "\">";
  Hidden(html, "csrf", viewer.csrf);
  Hidden(html, "what", "link");
  html << "<label>Help link of this group <input name=\"link\" size=\"60\" value=\"" << detail.ownLink
       << "\"></label> <button>Save the link</button><p class=\"note\">Empty: the help-link rules decide. "
          "The next client that sends this crash gets it.</p></form>";
  html << "<form class=\"setting\" method=\"post\" action=\"" << action << "\">";
  Hidden(html, "csrf", viewer.csrf);
  Hidden(html, "what", "dumps");
  html << "<label>Dumps kept of each build <input name=\"dumps\" size=\"6\" value=\""
       << (detail.dumpsPerGroup ? std::to_string(*detail.dumpsPerGroup) : std::string()) << "\" placeholder=\""
       << storeK << "\"></label> <button>Save the sampling</button><p class=\"note\">Empty: the store's "
       << storeK << ". 0: ask for no dump of this group.</p></form>";
}

void Download(Html& html, const UploadSummary& upload) {
  html << "<a href=\"/uploads/" << upload.id << "\" download>" << upload.name << "</a> (" << std::int64_t(upload.size)
       << " bytes, " << upload.state << ")";
}

void Fields(Html& html, const std::string& document) {
  const auto fields = ReportFields(document);
  if (!fields) {
    html << "<p>The document is not well-formed XML; as it came:</p><pre>" << document << "</pre>";
    return;
  }
  html << "<table class=\"fields\"><tr><th>Element</th><th>Attributes</th><th>Text</th></tr>";
  for (const ReportField& field : *fields) {
    html << "<tr><td class=\"depth-" << std::int64_t{std::min(field.depth, 6)} << "\">" << field.element << "</td><td>";
    for (const auto& attribute : field.attributes) {
      html << "<span class=\"attribute\">" << attribute.first << "</span> " << attribute.second << "<br>";
    }
    html << "</td><td class=\"text\">" << field.text << "</td></tr>";
  }
  html << "</table>";
}

void Threads(Html& html, const CrashDetail& detail) {
  const std::optional<DumpView> dump = detail.dump && detail.dump->state == "processed" ? ReadDumpView(detail.dumpDetails)
                                                                                       : std::nullopt;
  html << "<h2>Threads</h2>";
  if (!dump || dump->threads.empty()) {
    html << "<p>No walked dump: " << (detail.dump ? detail.dump->state + ": " + detail.dumpDetails.substr(0, 300)
                                                  : std::string("the dump was not sent"))
         << ". The crashed thread's stack as the report gives it is under <i>backtrace</i> above.</p>";
    return;
  }
  for (const ThreadView& thread : dump->threads) {
    html << "<h3>Thread " << thread.id << (thread.crashed ? std::string(" (crashed)") : std::string()) << "</h3>";
    Frames(html, thread);
  }
}

}  // namespace

std::string ReportPage(const Viewer& viewer, const CrashDetail& detail) {
  const CrashSummary& crash = detail.crash;
  Html html;
  Top(html, viewer, "Crash " + std::to_string(crash.id));
  html << "<h1>Crash " << crash.id << "</h1><table class=\"facts\"><tr><th>Group</th><td>";
  if (detail.groupId) {
    html << "<a class=\"signature\" href=\"/groups/" << detail.groupId << "\">" << detail.signature << "</a>";
  } else {
    html << "none (" << detail.state << (detail.problem.empty() ? std::string() : ": " + detail.problem) << ")";
  }
  html << "</td></tr><tr><th>Received</th><td>" << UtcText(crash.firstSeen) << "</td></tr><tr><th>Installation</th><td>"
       << crash.guid << "</td></tr><tr><th>Crash identifier</th><td>" << crash.crashId
       << "</td></tr><tr><th>Build</th><td>" << crash.product + " " + crash.version + " " + crash.build
       << "</td></tr><tr><th>Exception</th><td>" << crash.exception << "</td></tr><tr><th>Dump</th><td>";
  if (detail.dump) {
    Download(html, *detail.dump);
  } else {
    html << "not sent";
  }
  html << "</td></tr><tr><th>Attachments</th><td>";
  if (detail.attachments.empty()) html << "none";
  for (const UploadSummary& attachment : detail.attachments) {
    Download(html, attachment);
    html << "<br>";
  }
  html << "</td></tr></table>";
  Threads(html, detail);
  html << "<h2>The report, every field</h2>";
  Fields(html, detail.document);
  return End(html);
}

std::string BuildsPage(const Viewer& viewer, const std::vector<BuildRow>& builds, const std::string& notice) {
  Html html;
  Top(html, viewer, "Builds");
  html << "<h1>Builds</h1>";
  if (!notice.empty()) html << "<p class=\"notice\">" << notice << "</p>";
  html << "<p class=\"note\">The dump kind of a build reaches its clients at their next preference exchange; "
          "their next crash writes it.</p><table class=\"builds\"><tr><th>Product</th><th>Version</th>"
          "<th>Build</th><th>Crashes</th><th>Last crash</th><th>Preference</th><th>Dump kind</th></tr>";
  for (const BuildRow& build : builds) {
    const bool full = build.preference.rfind("1_", 0) == 0 || build.preference == "1";
    html << "<tr><td>" << build.product << "</td><td>" << build.version << "</td><td>" << build.build << "</td><td>"
         << build.crashes << "</td><td>" << UtcText(build.lastSeen) << "</td><td>"
         << (build.preference.empty() ? std::string("none") : build.preference)
         << "</td><td><form class=\"setting\" method=\"post\" action=\"/builds\">";
    Hidden(html, "csrf", viewer.csrf);
    Hidden(html, "product", build.product);
    Hidden(html, "version", build.version);
    Hidden(html, "build", build.build);
    html << "<select name=\"kind\"><option value=\"0\"" << (full ? "" : " selected") << ">minidump</option>"
         << "<option value=\"1\"" << (full ? " selected" : "") << ">full dump</option></select> "
         << "<button>Ask this build</button></form></td></tr>";
  }
  html << "</table>";
  return End(html);
}

std::string RulesPage(const Viewer& viewer, const std::vector<LinkRule>& rules, const std::string& notice) {
  Html html;
  Top(html, viewer, "Help links");
  html << "<h1>Help-link rules</h1>";
  if (!notice.empty()) html << "<p class=\"notice\">" << notice << "</p>";
  html << "<p class=\"note\">A crash gets the link of an exact rule for its signature, else of the longest "
          "prefix rule, else of its module's rule, else the rule for any signature.</p><table><tr><th>Rule</th>"
          "<th>Kind</th><th>Help link</th><th></th></tr>";
  for (const LinkRule& rule : rules) {
    html << "<tr><td class=\"signature\">" << LinkRuleText(rule) << "</td><td>"
         << std::string(LinkRuleKindName(rule.kind)) << "</td><td>";
    Link(html, rule.url);
    html << "</td><td><form method=\"post\" action=\"/rules\">";
    Hidden(html, "csrf", viewer.csrf);
    Hidden(html, "what", "remove");
    Hidden(html, "rule", LinkRuleText(rule));
    html << "<button>Remove</button></form></td></tr>";
  }
  html << "</table><form class=\"setting\" method=\"post\" action=\"/rules\">";
  Hidden(html, "csrf", viewer.csrf);
  Hidden(html, "what", "add");
  html << "<label>Rule <input name=\"rule\" size=\"40\" placeholder=\"SIGNATURE, prefix:TEXT, module:NAME or any\">"
          "</label><label>Help link <input name=\"url\" size=\"50\"></label><button>Add</button></form>";
  return End(html);
}

std::string EventsPage(const Viewer& viewer, const std::vector<EventCount>& counts, std::int64_t today) {
  Html html;
  Top(html, viewer, "Events");
  html << "<h1>Events by type and day</h1><table class=\"events\"><tr><th>Type</th>";
  for (std::int64_t day = today - (kTrendDays - 1); day <= today; ++day)
    html << "<th>" << UtcText(day * 86400).substr(5, 5) << "</th>";
  html << "</tr>";
  for (std::size_t at = 0; at < counts.size();) {
    const std::string& type = counts[at].type;
    html << "<tr><td>" << type << "</td>";
    for (std::int64_t day = today - (kTrendDays - 1); day <= today; ++day) {
      std::int64_t count = 0;
      for (; at < counts.size() && counts[at].type == type && counts[at].day <= day; ++at) {
        if (counts[at].day == day) count = counts[at].count;
      }
      html << "<td>" << count << "</td>";
    }
    html << "</tr>";
    while (at < counts.size() && counts[at].type == type) ++at;
  }
  html << "</table>";
  return End(html);
}

std::string SymbolsPage(const Viewer& viewer, const std::string& store, const std::vector<StoredSymbolFile>& files,
                        const std::vector<MissingModule>& missing) {
  Html html;
  Top(html, viewer, "Symbols");
  html << "<h1>Symbols</h1><h2>Missing for the crashes seen</h2><p class=\"note\">Modules of the latest 1000 "
          "walked dumps that no symbol folder holds, the most often first. Send each build's unstripped module "
          "once (POST /symbols with the symbols key, or kxserver admin ... symbols add FILE): the dumps that "
          "needed it are walked again.</p><table><tr><th>Module</th><th>Debug or code id</th><th>Dumps</th></tr>";
  for (std::size_t at = 0; at < missing.size() && at < 50; ++at)
    html << "<tr><td>" << missing[at].name << "</td><td>" << missing[at].id << "</td><td>" << missing[at].dumps << "</td></tr>";
  html << "</table><h2>Stored in " << store << "</h2><table><tr><th>File</th><th>Bytes</th></tr>";
  for (const StoredSymbolFile& file : files)
    html << "<tr><td class=\"file\">" << file.path << "</td><td>" << static_cast<std::int64_t>(file.size) << "</td></tr>";
  html << "</table>";
  return End(html);
}

std::string LoginPage(const std::string& message, const std::string& next, const std::string& loginToken) {
  Html html;
  Head(html, "Log in");
  html << "<main class=\"login\"><h1>kxserver</h1>";
  if (!message.empty()) html << "<p class=\"notice\">" << message << "</p>";
  html << "<form method=\"post\" action=\"/login\"><label>Name <input name=\"name\" autocomplete=\"username\" "
          "required></label><label>Password <input name=\"password\" type=\"password\" "
          "autocomplete=\"current-password\" required></label>";
  Hidden(html, "next", next);
  Hidden(html, "login", loginToken);
  html << "<button>Log in</button></form>";
  return End(html);
}

std::string MessagePage(const std::string& title, const std::string& message) {
  Html html;
  Head(html, title);
  html << "<main><h1>" << title << "</h1><p>" << message << "</p><p><a href=\"/\">Crash groups</a></p>";
  return End(html);
}

std::string GroupsPage(const Viewer& viewer, const GroupFilter& filter, const std::vector<GroupListRow>& rows,
                       std::int64_t now) {
  Html html;
  Top(html, viewer, "Crash groups");
  html << "<h1>Crash groups</h1>";
  FilterForm(html, filter);
  html << "<table class=\"groups\"><tr><th>Signature</th>";
  SortHeader(html, filter, "crashes", "Crashes");
  SortHeader(html, filter, "installations", "Installations");
  SortHeader(html, filter, "first", "First seen");
  SortHeader(html, filter, "last", "Last seen");
  html << "<th>Builds</th><th>Last " << std::int64_t{kTrendDays} << " days</th></tr>";
  for (const GroupListRow& row : rows) {
    const GroupSummary& group = row.group;
    html << "<tr><td class=\"signature\"><a href=\"/groups/" << group.id << "\">" << group.signature
         << "</a></td><td>" << group.crashes << "</td><td>" << group.installations << "</td><td>"
         << UtcText(group.firstSeen) << "</td><td>" << UtcText(group.lastSeen) << "</td><td>";
    for (std::size_t at = 0; at < group.builds.size(); ++at) html << (at ? ", " : "") << group.builds[at];
    if (group.otherBuilds > 0)
      html << ", <a href=\"/groups/" << group.id << "\">+ " << group.otherBuilds << " more</a>";
    html << "</td><td class=\"trend\">" << Trend(row.trend) << "</td></tr>";
  }
  html << "</table>";
  if (rows.empty()) html << "<p>No crash matches.</p>";
  if (rows.size() >= kGroupListRows)
    html << "<p class=\"note\">The first " << std::int64_t{kGroupListRows} << " groups in this order: filter for the others.</p>";
  html << "<p class=\"note\">Trend: crashes a day up to " << UtcText(now) << ".</p>";
  return End(html);
}

std::string GroupPage(const Viewer& viewer, const GroupDetail& detail, std::int64_t storeK,
                      const std::string& notice) {
  const GroupSummary& group = detail.group;
  Html html;
  Top(html, viewer, group.signature);
  html << "<h1 class=\"signature\">" << group.signature << "</h1>";
  if (!notice.empty()) html << "<p class=\"notice\">" << notice << "</p>";
  html << "<table class=\"facts\"><tr><th>Crashes</th><td>" << group.crashes << "</td></tr><tr><th>Dumps kept</th><td>"
       << group.dumps << "</td></tr><tr><th>Installations</th><td>" << group.installations
       << "</td></tr><tr><th>First seen</th><td>" << UtcText(group.firstSeen) << "</td></tr><tr><th>Last seen</th><td>"
       << UtcText(group.lastSeen) << "</td></tr><tr><th>Builds</th><td>";
  for (std::size_t at = 0; at < group.builds.size(); ++at) html << (at ? ", " : "") << group.builds[at];
  html << "</td></tr><tr><th>Help link</th><td>";
  if (group.link.empty()) html << "none";
  Link(html, group.link);
  html << "</td></tr></table>";
  LatestStack(html, detail);
  Settings(html, viewer, detail, storeK);
  html << "<h2>Reports (the latest " << std::int64_t{kGroupPageCrashes} << ")</h2><table class=\"reports\"><tr>"
          "<th>Crash</th><th>Received</th><th>Installation</th><th>Build</th><th>Exception</th><th>Dump</th></tr>";
  for (const CrashSummary& crash : detail.crashes) {
    html << "<tr><td><a href=\"/reports/" << crash.id << "\">" << crash.id << "</a></td><td>" << UtcText(crash.firstSeen) << "</td><td>" << crash.guid
         << "</td><td>" << crash.product + " " + crash.version + " " + crash.build << "</td><td>" << crash.exception
         << "</td><td>" << std::string(crash.dump ? "yes" : "no") << "</td></tr>";
  }
  html << "</table>";
  return End(html);
}

const char* StyleSheet() {
  return "body{font-family:system-ui,sans-serif;margin:0;color:#1d2330;background:#f6f7f9}"
         "header{background:#1d2330;color:#fff;padding:.6em 1.2em;display:flex;gap:1.2em;align-items:center}"
         "header a{color:#fff;text-decoration:none;margin-right:1em}header .home{font-weight:bold}"
         "header .logout{margin-left:auto}main{padding:1em 1.6em}"
         "table{border-collapse:collapse;background:#fff;margin:.6em 0}"
         "th,td{border:1px solid #d8dce3;padding:.3em .6em;text-align:left;vertical-align:top}"
         "th{background:#eef0f4}.signature{font-family:monospace}.file{font-family:monospace;white-space:pre}"
         ".trend{font-family:monospace;letter-spacing:1px}.unnamed,.note,.inlined{color:#6b7280}"
         ".trust-scan{color:#b45309}.notice{background:#fff7d6;padding:.5em}"
         ".login form,.setting{display:flex;gap:.8em;flex-wrap:wrap;align-items:center}"
         "pre{background:#fff;padding:.6em;border:1px solid #d8dce3}.filter{margin:.6em 0}"
         ".fields .text{font-family:monospace;white-space:pre-wrap}.attribute{color:#6b7280}"
         ".depth-1{padding-left:1.6em}.depth-2{padding-left:2.8em}.depth-3{padding-left:4em}"
         ".depth-4{padding-left:5.2em}.depth-5,.depth-6{padding-left:6.4em}\n";
}

}  // namespace kx::server::web
