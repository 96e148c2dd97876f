// The HTTPS listener: one port, the four exchanges by their paths, /metrics and /health. cpp-httplib serves
// each connection on a worker thread of a fixed pool; a connection carries one request, as the client makes
// them, and every request gets one line in the access log.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "intake/exchanges.h"
#include "intake/metrics.h"
#include "store/store.h"

namespace httplib {
class Server;
}

namespace kx::server {

struct IntakeOptions {
  std::string host = "0.0.0.0";
  int port = 443;
  std::string certificateFile, keyFile;  // both empty: plain HTTP, behind a proxy that ends TLS
  int threads = 64;
  int timeoutSeconds = 30;  // each read and write; the client gives up after 30 s too
  ExchangeSettings exchanges;
  std::FILE* accessLog = stdout;
};

class IntakeServer {
 public:
  IntakeServer(Store& store, IntakeOptions options, std::function<void()> queued);
  ~IntakeServer();

  // Binds the port (0: any free one); false with the reason when it cannot.
  bool Bind(std::string& error);
  int port() const { return port_; }
  // For routes beside the exchanges (the pages), added before Bind.
  httplib::Server& http() { return *server_; }
  // Serves until Stop().
  bool Run();
  void Stop();

 private:
  void Route();
  void LogRequest(const std::string& method, const std::string& path, const std::string& remote, int status);

  IntakeOptions options_;
  Metrics metrics_;
  Exchanges exchanges_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
};

}  // namespace kx::server
