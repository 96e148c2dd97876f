#include "web/web_pages.h"

#include <httplib.h>

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <ctime>

#include "rules/link_rules.h"
#include "wire/exchange_bodies.h"
#include "store/file_io.h"
#include "symbols/symbol_files.h"
#include "web/html.h"
#include "web/secrets.h"

namespace kx::server::web {
namespace {

constexpr char kCookie[] = "kx_session";
// The login form's own token, matched against a cookie that only this server's pages set: another site can
// post the form but can neither read the cookie nor, SameSite=Strict, have the browser send it along.
constexpr char kLoginCookie[] = "kx_login";
constexpr std::uint64_t kFormBytes = 64 << 10;
constexpr std::uint64_t kDrainBytes = 64 << 20;

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// What every page says of itself: no script at all, no framing, no caching, no referrer with its ids.
void Send(httplib::Response& response, int status, const std::string& html) {
  response.status = status;
  response.set_header("Content-Security-Policy",
                      "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
                      "frame-ancestors 'none'; base-uri 'none'");
  response.set_header("X-Content-Type-Options", "nosniff");
  response.set_header("Referrer-Policy", "no-referrer");
  response.set_header("Cache-Control", "no-store");
  response.set_content(html, "text/html; charset=utf-8");
}

void SeeOther(httplib::Response& response, const std::string& where) {
  response.status = 303;
  response.set_header("Location", where);
  response.set_header("Cache-Control", "no-store");
}

std::string CookieValue(const httplib::Request& request, const char* name) {
  const std::string cookies = request.get_header_value("Cookie");
  const std::string key = std::string(name) + "=";
  for (std::size_t at = 0; at < cookies.size();) {
    while (at < cookies.size() && (cookies[at] == ' ' || cookies[at] == ';')) ++at;
    const std::size_t end = std::min(cookies.find(';', at), cookies.size());
    if (cookies.compare(at, key.size(), key) == 0) return cookies.substr(at + key.size(), end - at - key.size());
    at = end;
  }
  return {};
}

std::string SessionToken(const httplib::Request& request) { return CookieValue(request, kCookie); }

// Reads a form's body under its bound; false (answered 413) when it is larger.
using FormHandler = std::function<void(const httplib::Request&, httplib::Response&, const std::string&)>;
httplib::Server::HandlerWithContentReader WithForm(FormHandler handler) {
  return [handler](const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader) {
    std::string body;
    const bool whole = reader([&](const char* data, std::size_t size) {
      body.append(data, size);
      return body.size() <= kFormBytes;
    });
    if (!whole) {
      Send(response, 413, MessagePage("Too large", "The form was larger than any of these pages sends."));
      return;
    }
    handler(request, response, body);
  };
}

std::string PathWithQuery(const httplib::Request& request) {
  std::string path = request.path;
  bool first = true;
  for (const auto& param : request.params) {
    path += (first ? "?" : "&") + EncodeComponent(param.first) + "=" + EncodeComponent(param.second);
    first = false;
  }
  return path;
}

std::optional<std::int64_t> IdOf(const httplib::Request& request) {
  const std::string text = request.matches.size() > 1 ? std::string(request.matches[1]) : std::string();
  if (text.empty() || text.size() > 15) return std::nullopt;
  return std::stoll(text);
}

}  // namespace

WebPages::WebPages(Store& store, WebOptions options) : store_(store), options_(options) {}

void WebPages::Route(httplib::Server& server) {
  using namespace std::placeholders;
  server.Get("/static/style.css", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Cache-Control", "max-age=3600");
    response.set_content(StyleSheet(), "text/css");
  });
  server.Get("/login", [this](const httplib::Request& request, httplib::Response& response) {
    SendLogin(request, response, 200, "", LocalPath(request.get_param_value("next")));
  });
  server.Post("/login", WithForm(std::bind(&WebPages::Login, this, _1, _2, _3)));
  server.Post("/logout", WithForm(std::bind(&WebPages::Logout, this, _1, _2, _3)));
  server.Get("/", std::bind(&WebPages::Groups, this, _1, _2));
  server.Get(R"(/groups/(\d+))", std::bind(&WebPages::Group, this, _1, _2));
  server.Post(R"(/groups/(\d+))", WithForm(std::bind(&WebPages::ChangeGroup, this, _1, _2, _3)));
  server.Get("/builds", std::bind(&WebPages::Builds, this, _1, _2));
  server.Post("/builds", WithForm(std::bind(&WebPages::ChangeBuild, this, _1, _2, _3)));
  server.Get("/rules", std::bind(&WebPages::Rules, this, _1, _2));
  server.Post("/rules", WithForm(std::bind(&WebPages::ChangeRules, this, _1, _2, _3)));
  server.Get("/events", std::bind(&WebPages::Events, this, _1, _2));
  server.Get("/symbols", std::bind(&WebPages::Symbols, this, _1, _2));
  server.Post("/symbols", std::bind(&WebPages::UploadSymbols, this, _1, _2, _3));
  server.Get(R"(/reports/(\d+))", std::bind(&WebPages::Report, this, _1, _2));
  server.Get(R"(/uploads/(\d+))", std::bind(&WebPages::Download, this, _1, _2));
}

std::optional<Viewer> WebPages::Authorize(const httplib::Request& request, httplib::Response& response,
                                          const std::string& body) {
  const std::string token = SessionToken(request);
  const std::optional<WebSession> session =
      token.empty() ? std::nullopt : store_.SessionFor(TokenKey(token), Now());
  const bool changes = request.method == "POST";
  if (!session) {
    if (changes) {
      Send(response, 403, MessagePage("Refused", "Log in first."));
    } else {
      SendLogin(request, response, 401, "Log in to see this page.", LocalPath(PathWithQuery(request)));
    }
    return std::nullopt;
  }
  if (changes) {
    const auto form = ReadForm(body);
    const auto csrf = form.find("csrf");
    if (csrf == form.end() || !SameSecret(csrf->second, session->csrf)) {
      Send(response, 403, MessagePage("Refused", "The form did not come from this server's page: load the page again."));
      return std::nullopt;
    }
  }
  return Viewer{session->user, session->csrf};
}

// The form keeps the token its browser already holds, so that two open login pages both still work.
void WebPages::SendLogin(const httplib::Request& request, httplib::Response& response, int status,
                         const std::string& message, const std::string& next) {
  std::string token = CookieValue(request, kLoginCookie);
  if (token.size() != 64 || token.find_first_not_of("0123456789abcdef") != std::string::npos) token = RandomToken();
  response.set_header("Set-Cookie", std::string(kLoginCookie) + "=" + token + "; Path=/login; Max-Age=" +
                                        std::to_string(options_.sessionSeconds) + "; HttpOnly; SameSite=Strict" +
                                        (options_.secureCookies ? "; Secure" : ""));
  Send(response, status, LoginPage(message, next, token));
}

void WebPages::Login(const httplib::Request& request, httplib::Response& response, const std::string& body) {
  auto form = ReadForm(body);
  const std::string next = LocalPath(form["next"]);
  const std::string loginToken = CookieValue(request, kLoginCookie);
  if (loginToken.empty() || !SameSecret(form["login"], loginToken)) {
    SendLogin(request, response, 403, "The form did not come from this server's login page: log in here.", next);
    return;
  }
  const std::optional<std::string> stored = store_.UserPassword(form["name"]);
  // An unknown name costs a hash too, so that the time does not tell names apart.
  const bool matches = PasswordMatches(form["password"], stored ? *stored : HashPassword(""));
  if (!stored || !matches) {
    SendLogin(request, response, 401, "Wrong name or password.", next);
    return;
  }
  const std::string token = RandomToken();
  const std::int64_t now = Now();
  store_.AddSession(TokenKey(token), form["name"], RandomToken(), now + options_.sessionSeconds, now);
  response.set_header("Set-Cookie", std::string(kCookie) + "=" + token + "; Path=/; Max-Age=" +
                                        std::to_string(options_.sessionSeconds) + "; HttpOnly; SameSite=Strict" +
                                        (options_.secureCookies ? "; Secure" : ""));
  SeeOther(response, next);
}

void WebPages::Logout(const httplib::Request& request, httplib::Response& response, const std::string& body) {
  if (!Authorize(request, response, body)) return;
  store_.EndSession(TokenKey(SessionToken(request)));
  response.set_header("Set-Cookie", std::string(kCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
  SeeOther(response, "/login");
}

void WebPages::Groups(const httplib::Request& request, httplib::Response& response) {
  const std::optional<Viewer> viewer = Authorize(request, response, "");
  if (!viewer) return;
  GroupFilter filter{request.get_param_value("product"), request.get_param_value("version"),
                     request.get_param_value("build"), request.get_param_value("sort")};
  const std::int64_t now = Now();
  Send(response, 200, GroupsPage(*viewer, filter, store_.GroupList(filter, now), now));
}

void WebPages::Group(const httplib::Request& request, httplib::Response& response) {
  const std::optional<Viewer> viewer = Authorize(request, response, "");
  if (!viewer) return;
  const std::optional<std::int64_t> id = IdOf(request);
  const std::optional<GroupDetail> detail = id ? store_.Group(*id) : std::nullopt;
  if (!detail) {
    Send(response, 404, MessagePage("No such group", "The group is gone (merged into its named group, or removed)."));
    return;
  }
  Send(response, 200, GroupPage(*viewer, *detail, store_.DumpsPerGroup(), request.get_param_value("notice")));
}

void WebPages::Report(const httplib::Request& request, httplib::Response& response) {
  const std::optional<Viewer> viewer = Authorize(request, response, "");
  if (!viewer) return;
  const std::optional<std::int64_t> id = IdOf(request);
  const std::optional<CrashDetail> detail = id ? store_.Crash(*id) : std::nullopt;
  if (!detail) {
    Send(response, 404, MessagePage("No such crash", "The crash is gone (retention removes old crashes)."));
    return;
  }
  Send(response, 200, ReportPage(*viewer, *detail));
}

// A stored file as it came, streamed from the store (a dump may be hundreds of MiB), never shown inline.
void WebPages::Download(const httplib::Request& request, httplib::Response& response) {
  if (!Authorize(request, response, "")) return;
  const std::optional<std::int64_t> id = IdOf(request);
  const std::optional<UploadSummary> upload = id ? store_.Upload(*id) : std::nullopt;
  if (!upload) {
    Send(response, 404, MessagePage("No such file", "The file is gone (retention removes old files)."));
    return;
  }
  std::string name;
  for (const char c : upload->name) name += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
  response.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
  response.set_header("X-Content-Type-Options", "nosniff");
  response.set_header("Content-Security-Policy", "sandbox");
  Store& store = store_;
  const std::int64_t uploadId = upload->id;
  response.set_content_provider(
      static_cast<std::size_t>(upload->size), "application/octet-stream",
      [&store, uploadId](std::size_t offset, std::size_t, httplib::DataSink& sink) {
        // The whole file at the first call: the store reads it in order, piece by piece.
        if (offset != 0) return false;
        return store.ReadUploadBytes(uploadId, [&sink](std::string_view piece) { return sink.write(piece.data(), piece.size()); });
      });
}

void WebPages::Builds(const httplib::Request& request, httplib::Response& response) {
  const std::optional<Viewer> viewer = Authorize(request, response, "");
  if (viewer) Send(response, 200, BuildsPage(*viewer, store_.Builds(), request.get_param_value("notice")));
}

// A build's dump kind is the first number of its preference value; the others are kept (or the client's
// usual ones, for a build without a value yet).
void WebPages::ChangeBuild(const httplib::Request& request, httplib::Response& response, const std::string& body) {
  if (!Authorize(request, response, body)) return;
  auto form = ReadForm(body);
  BuildPreference preference{form["product"], form["version"], form["build"], "_1_100"};
  for (const BuildPreference& stored : store_.Preferences()) {
    if (stored.product == preference.product && stored.version == preference.version && stored.build == preference.build)
      preference.value = stored.value.substr(std::min(stored.value.find('_'), stored.value.size()));
  }
  preference.value = (form["kind"] == "1" ? "1" : "0") + preference.value;
  bool plain = IsPreferenceValue(preference.value);
  for (const std::string* part : {&preference.product, &preference.version, &preference.build})
    plain = plain && !part->empty() && TravelsPlain(*part) && part->find(';') == std::string::npos;
  if (!plain) {
    SeeOther(response, "/builds?notice=" + EncodeComponent("Not saved: the client cannot read this build's name back."));
    return;
  }
  store_.SetPreference(preference);
  SeeOther(response, "/builds?notice=" + EncodeComponent(preference.product + " " + preference.version + " " +
                                                         preference.build + ": " + preference.value));
}

void WebPages::Rules(const httplib::Request& request, httplib::Response& response) {
  const std::optional<Viewer> viewer = Authorize(request, response, "");
  if (viewer) Send(response, 200, RulesPage(*viewer, store_.Links(), request.get_param_value("notice")));
}

void WebPages::ChangeRules(const httplib::Request& request, httplib::Response& response, const std::string& body) {
  if (!Authorize(request, response, body)) return;
  auto form = ReadForm(body);
  const std::optional<LinkRule> rule = MakeLinkRule(form["rule"], form["what"] == "add" ? form["url"] : "https://x");
  std::string notice = "Not saved: a rule needs a pattern, and the link must be an http(s) link without blanks or quotes.";
  if (rule && form["what"] == "add") {
    store_.SetLink(*rule);
    notice = "Rule saved.";
  } else if (rule && form["what"] == "remove") {
    notice = store_.RemoveLink(*rule) ? "Rule removed." : "No such rule.";
  }
  SeeOther(response, "/rules?notice=" + EncodeComponent(notice));
}

void WebPages::Events(const httplib::Request& request, httplib::Response& response) {
  const std::optional<Viewer> viewer = Authorize(request, response, "");
  if (!viewer) return;
  const std::int64_t today = Now() / 86400;
  Send(response, 200, EventsPage(*viewer, store_.EventCounts((today - (kTrendDays - 1)) * 86400), today));
}

void WebPages::Symbols(const httplib::Request& request, httplib::Response& response) {
  const std::optional<Viewer> viewer = Authorize(request, response, "");
  if (!viewer) return;
  Send(response, 200, SymbolsPage(*viewer, options_.symbolStore, ListSymbolFiles(options_.symbolStore),
                                  MissingModules(store_.DumpReadings(1000))));
}

void WebPages::UploadSymbols(const httplib::Request& request, httplib::Response& response,
                             const httplib::ContentReader& body) {
  const auto answer = [&response](int status, const std::string& text) {
    response.status = status;
    response.set_content(text + "\n", "text/plain");
  };
  // A refused body is read to its end first (up to a bound): answered at once, a client still sending would
  // meet a closed connection instead of the answer.
  const auto refuse = [&](int status, const std::string& text) {
    std::uint64_t drained = 0;
    body([&](const char*, std::size_t length) { return (drained += length) <= kDrainBytes; });
    answer(status, text);
  };
  if (options_.symbolsKey.empty() || options_.symbolStore.empty())
    return refuse(404, "this server takes no symbols by HTTP (serve --symbols-key KEY)");
  if (!SameSecret(request.get_header_value("X-KX-Symbols-Key"), options_.symbolsKey))
    return refuse(401, "the X-KX-Symbols-Key is not this server's");
  const std::string name = request.get_header_value("X-KX-File-Name");
  if (!MakeFolders(options_.symbolStore)) return answer(503, "cannot write the symbol store");
  const std::string incoming = IncomingPath(options_.symbolStore);
  std::uint64_t size = 0;
  bool written = true;
  {
    UniqueFd file(::open(incoming.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    written = file.valid() && body([&](const char* data, std::size_t length) {
      size += length;
      return size <= options_.symbolBytes && WriteAll(file.get(), std::string_view(data, length));
    });
  }
  if (!written) {
    ::unlink(incoming.c_str());
    return answer(size > options_.symbolBytes ? 413 : 400, "the file was not received whole");
  }
  const StoredSymbols stored = PlaceSymbolFile(options_.symbolStore, name, incoming);
  if (!stored.error.empty()) return answer(400, stored.error);
  const std::int64_t queued = store_.RequeueDumpsOf(stored.ids);
  std::string text = stored.added ? "stored" : "stored before";
  for (const std::string& path : stored.paths) text += " " + path;
  answer(200, text + "; " + std::to_string(queued) + " dumps to walk again");
}

void WebPages::ChangeGroup(const httplib::Request& request, httplib::Response& response, const std::string& body) {
  if (!Authorize(request, response, body)) return;
  const std::optional<std::int64_t> id = IdOf(request);
  const std::optional<GroupDetail> detail = id ? store_.Group(*id) : std::nullopt;
  if (!detail) {
    Send(response, 404, MessagePage("No such group", "The group is gone."));
    return;
  }
  auto form = ReadForm(body);
  const std::string back = "/groups/" + std::to_string(*id) + "?notice=";
  if (form["what"] == "link") {
    const std::string& url = form["link"];
    const LinkRule rule{LinkRuleKind::kExact, detail->group.signature, url};
    if (url.empty()) {
      store_.RemoveLink(rule);
    } else if (MakeLinkRule("x", url)) {
      store_.SetLink(rule);
    } else {
      SeeOther(response, back + EncodeComponent("Not saved: a help link is an http(s) link without blanks or quotes."));
      return;
    }
    SeeOther(response, back + EncodeComponent("Help link saved."));
  } else if (form["what"] == "dumps") {
    const std::string& k = form["dumps"];
    if (!k.empty() && (k.size() > 9 || k.find_first_not_of("0123456789") != std::string::npos)) {
      SeeOther(response, back + EncodeComponent("Not saved: the sampling is a number of dumps, or empty."));
      return;
    }
    store_.SetGroupDumps(*id, k.empty() ? std::nullopt : std::optional<std::int64_t>(std::stoll(k)));
    SeeOther(response, back + EncodeComponent("Dump sampling saved."));
  } else {
    Send(response, 400, MessagePage("Not understood", "The form asked for nothing this page does."));
  }
}

}  // namespace kx::server::web
