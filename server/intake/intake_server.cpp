#include "intake/intake_server.h"

#include <sys/socket.h>

#include <ctime>
#include <mutex>

#include <openssl/ssl.h>

#include "transport/upload_rules.h"
#include "wire/text.h"
#include "common/wire_names.h"

namespace kx::server {
namespace {

// The listening socket is cpp-httplib's own: these give it a backlog that a crowd of connecting clients does
// not overflow (the library's is 5), and refuse a port another process serves (the library's default options
// share it with SO_REUSEPORT).
constexpr int kBacklog = 1024;

template <typename Base>
class Listener : public Base {
 public:
  using Base::Base;
  int ListeningSocket() const { return this->svr_sock_; }
};

void ReuseAddress(int socket) {
  const int yes = 1;
  ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// A log line is one line: what came from a client cannot break it.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}

}  // namespace

IntakeServer::IntakeServer(Store& store, IntakeOptions options, std::function<void()> queued)
    : options_(std::move(options)), exchanges_(store, metrics_, options_.exchanges, std::move(queued)) {
  if (options_.certificateFile.empty()) {
    server_ = std::make_unique<Listener<httplib::Server>>();
  } else {
    auto tls = std::make_unique<Listener<httplib::SSLServer>>(options_.certificateFile.c_str(),
                                                              options_.keyFile.c_str());
    // The client's own floor (docs/server-exchanges.md).
    if (tls->is_valid()) SSL_CTX_set_min_proto_version(tls->ssl_context(), TLS1_2_VERSION);
    server_ = std::move(tls);
  }
}

IntakeServer::~IntakeServer() = default;

bool IntakeServer::Bind(std::string& error) {
  if (!server_->is_valid()) {
    error = "cannot load the certificate " + options_.certificateFile + " and key " + options_.keyFile;
    return false;
  }
  const int threads = options_.threads;
  server_->new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
  server_->set_socket_options(ReuseAddress);
  server_->set_keep_alive_max_count(1);
  server_->set_read_timeout(options_.timeoutSeconds, 0);
  server_->set_write_timeout(options_.timeoutSeconds, 0);
  // The exchanges read every body themselves, each under its own limit.
  server_->set_payload_max_length(static_cast<std::size_t>(-1));
  Route();
  if (options_.port == 0) {
    port_ = server_->bind_to_any_port(options_.host);
  } else if (server_->bind_to_port(options_.host, options_.port)) {
    port_ = options_.port;
  }
  if (port_ <= 0) {
    error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port);
    return false;
  }
  const int socket = options_.certificateFile.empty()
                         ? static_cast<Listener<httplib::Server>*>(server_.get())->ListeningSocket()
                         : static_cast<Listener<httplib::SSLServer>*>(server_.get())->ListeningSocket();
  ::listen(socket, kBacklog);
  return true;
}

void IntakeServer::Route() {
  using namespace std::placeholders;
  server_->Post(wire::kSolutionPath, std::bind(&Exchanges::Solution, &exchanges_, _1, _2, _3));
  server_->Post(wire::kPreferencesPath, std::bind(&Exchanges::Preferences, &exchanges_, _1, _2, _3));
  server_->Post(wire::kIngestPath, std::bind(&Exchanges::Events, &exchanges_, _1, _2, _3));
  server_->Post(Narrow(kUploadPath), std::bind(&Exchanges::Upload, &exchanges_, _1, _2, _3));
  server_->Get("/metrics", std::bind(&Exchanges::MetricsPage, &exchanges_, _1, _2));
  server_->Get("/health", std::bind(&Exchanges::Health, &exchanges_, _1, _2));
  server_->set_pre_routing_handler([this](const httplib::Request&, httplib::Response&) {
    CurrentRequest() = RequestNote{};
    CurrentRequest().routed = true;
    metrics_.AddInFlight(1);
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server_->set_logger([this](const httplib::Request& request, const httplib::Response& response) {
    LogRequest(request.method, request.path, request.remote_addr, response.status);
  });
}

void IntakeServer::LogRequest(const std::string& method, const std::string& path, const std::string& remote,
                              int status) {
  RequestNote& note = CurrentRequest();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - note.start).count();
  metrics_.CountRequest(note.exchange, status, seconds, note.bytes);
  if (note.routed) metrics_.AddInFlight(-1);
  if (options_.accessLog != nullptr) {
    const std::string line = UtcNow() + " " + remote + " " + OneLine(method) + " " + OneLine(path.substr(0, 200)) +
                             " " + std::to_string(status) + " " + std::to_string(note.bytes) + "B " +
                             std::to_string(static_cast<long long>(seconds * 1000 + 0.5)) + "ms " +
                             OneLine(note.detail.substr(0, 300)) + "\n";
    std::fputs(line.c_str(), options_.accessLog);
    std::fflush(options_.accessLog);
  }
  note = RequestNote{};
}

bool IntakeServer::Run() { return server_->listen_after_bind(); }

void IntakeServer::Stop() { server_->stop(); }

}  // namespace kx::server
