// The pages, each a function from what the store gave to a whole HTML document. Every text goes through
// Html (html.h), so nothing a client sent can become markup or script.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/store.h"
#include "symbols/symbol_files.h"

namespace kx::server::web {

// Who is looking, and the token every form that changes something carries back.
struct Viewer {
  std::string user, csrf;
};

// The login form; `next` is the page to go to once logged in (a path of this server).
std::string LoginPage(const std::string& message, const std::string& next, const std::string& loginToken);
std::string GroupsPage(const Viewer& viewer, const GroupFilter& filter, const std::vector<GroupListRow>& rows,
                       std::int64_t now);
std::string GroupPage(const Viewer& viewer, const GroupDetail& detail, std::int64_t storeDumpsPerGroup,
                      const std::string& notice);
std::string ReportPage(const Viewer& viewer, const CrashDetail& detail);
std::string BuildsPage(const Viewer& viewer, const std::vector<BuildRow>& builds, const std::string& notice);
std::string RulesPage(const Viewer& viewer, const std::vector<LinkRule>& rules, const std::string& notice);
std::string EventsPage(const Viewer& viewer, const std::vector<EventCount>& counts, std::int64_t today);
std::string SymbolsPage(const Viewer& viewer, const std::string& store, const std::vector<StoredSymbolFile>& files,
                        const std::vector<MissingModule>& missing);
std::string MessagePage(const std::string& title, const std::string& message);

// The one style sheet (pages carry no inline style or script).
const char* StyleSheet();

}  // namespace kx::server::web
