// The pages on kxserver's port, beside the client exchanges (which stay open to every client): every page
// needs a session, opened by the login form with an account made by `kxserver admin ... user NAME`.
// Sessions are random tokens in an HttpOnly, SameSite=Strict cookie (Secure on HTTPS) that expire; every form
// that changes something carries the session's CSRF token; every page forbids inline script.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <optional>

#include "store/store.h"
#include "web/pages.h"

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace kx::server::web {

struct WebOptions {
  bool secureCookies = true;                 // HTTPS: the cookie never travels in the clear
  std::int64_t sessionSeconds = 12 * 3600;   // a session ends this long after its login
  std::string symbolStore;                   // where symbols sent in go; empty: none are taken
  std::string symbolsKey;                    // the X-KX-Symbols-Key of POST /symbols; empty: no uploads by HTTP
  std::uint64_t symbolBytes = 1ull << 30;
};

class WebPages {
 public:
  WebPages(Store& store, WebOptions options);
  void Route(httplib::Server& server);

 private:
  // The viewer of a request, or nothing once it is answered: a page asked without a session gets the login
  // form (401); a form sent without a session or without its session's CSRF token, 403.
  std::optional<Viewer> Authorize(const httplib::Request& request, httplib::Response& response,
                                  const std::string& body);
  void SendLogin(const httplib::Request& request, httplib::Response& response, int status, const std::string& message,
                 const std::string& next);
  void Login(const httplib::Request& request, httplib::Response& response, const std::string& body);
  void Logout(const httplib::Request& request, httplib::Response& response, const std::string& body);
  void Groups(const httplib::Request& request, httplib::Response& response);
  void Group(const httplib::Request& request, httplib::Response& response);
  void Report(const httplib::Request& request, httplib::Response& response);
  void Download(const httplib::Request& request, httplib::Response& response);
  void Builds(const httplib::Request& request, httplib::Response& response);
  void ChangeBuild(const httplib::Request& request, httplib::Response& response, const std::string& body);
  void Rules(const httplib::Request& request, httplib::Response& response);
  void ChangeRules(const httplib::Request& request, httplib::Response& response, const std::string& body);
  void Events(const httplib::Request& request, httplib::Response& response);
  void Symbols(const httplib::Request& request, httplib::Response& response);
  // POST /symbols: a module's file with the symbols key, outside any session (a build script sends it).
  void UploadSymbols(const httplib::Request& request, httplib::Response& response,
                     const httplib::ContentReader& body);
  void ChangeGroup(const httplib::Request& request, httplib::Response& response, const std::string& body);

  Store& store_;
  const WebOptions options_;
};

}  // namespace kx::server::web
