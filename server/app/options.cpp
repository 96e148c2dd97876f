#include "app/options.h"

#include <map>

#include "ingest/event_document.h"

namespace kx::server {
namespace {

bool ReadNumber(const std::string& text, long long most, long long& value) {
  if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::stoll(text);
  return value <= most;
}

// "ADDR:PORT"; the address may be empty (every address).
bool ReadListen(const std::string& text, IntakeOptions& intake) {
  const std::size_t colon = text.rfind(':');
  long long port = 0;
  if (colon == std::string::npos || !ReadNumber(text.substr(colon + 1), 65535, port)) return false;
  intake.host = colon == 0 ? "0.0.0.0" : text.substr(0, colon);
  if (intake.host.size() > 2 && intake.host.front() == '[' && intake.host.back() == ']')
    intake.host = intake.host.substr(1, intake.host.size() - 2);
  intake.port = static_cast<int>(port);
  return true;
}

}  // namespace

std::optional<StoreLocation> TakeStoreLocation(std::vector<std::string>& words, std::string& error) {
  StoreLocation location;
  std::vector<std::string> rest;
  for (std::size_t at = 0; at < words.size(); ++at) {
    const std::string& word = words[at];
    const bool valued = at + 1 < words.size();
    long long number = 0;
    if (word == "--data" && valued) {
      location.dataFolder = words[++at];
    } else if (word == "--database" && valued) {
      location.databaseUrl = words[++at];
    } else if (word == "--spool" && valued) {
      location.spoolFolder = words[++at];
    } else if (word == "--connections" && valued && ReadNumber(words[at + 1], 1000, number) && number > 0) {
      location.connections = static_cast<int>(number);
      ++at;
    } else {
      rest.push_back(word);
    }
  }
  if (location.dataFolder.empty() == location.databaseUrl.empty()) {
    error = "give either --data DIR or --database URL";
    return std::nullopt;
  }
  words = rest;
  return location;
}

std::optional<ServeOptions> ParseServeOptions(const std::vector<std::string>& words, const std::string& self,
                                              std::string& error) {
  std::vector<std::string> rest = words;
  std::optional<StoreLocation> location = TakeStoreLocation(rest, error);
  if (!location) return std::nullopt;
  ServeOptions options;
  options.store = *location;
  options.intake.exchanges.ingestKey = kIngestProject;
  options.intake.exchanges.rates.perInstallation = 60;
  options.processing.dumpReader = {self, "dump-info"};
  options.processing.spoolFolder = location->spoolFolder;
  bool plain = false;
  for (std::size_t at = 0; at < rest.size(); ++at) {
    const std::string& word = rest[at];
    if (word == "--plain-http") {
      plain = true;
      continue;
    }
    if (at + 1 >= rest.size()) {
      error = "unknown option or missing value: " + word;
      return std::nullopt;
    }
    const std::string& value = rest[++at];
    long long number = 0;
    const bool isNumber = ReadNumber(value, 1LL << 40, number);
    if (word == "--listen" && ReadListen(value, options.intake)) {
    } else if (word == "--tls-cert") {
      options.intake.certificateFile = value;
    } else if (word == "--tls-key") {
      options.intake.keyFile = value;
    } else if (word == "--threads" && isNumber && number > 0 && number <= 4096) {
      options.intake.threads = static_cast<int>(number);
    } else if (word == "--max-dump-mib" && isNumber && number > 0) {
      options.intake.exchanges.limits.dumpBytes = static_cast<std::uint64_t>(number) << 20;
    } else if (word == "--rate-per-installation" && isNumber) {
      options.intake.exchanges.rates.perInstallation = static_cast<double>(number);
    } else if (word == "--rate-overall" && isNumber) {
      options.intake.exchanges.rates.overall = static_cast<double>(number);
    } else if (word == "--ingest-key" && !value.empty()) {
      options.intake.exchanges.ingestKey = value;
    } else if (word == "--dump-reader" && !value.empty()) {
      options.processing.dumpReader = {value};
    } else if (word == "--dump-seconds" && isNumber && number > 0) {
      options.processing.dumpSeconds = static_cast<int>(number);
    } else if (word == "--access-log") {
      options.accessLogPath = value;
    } else if (word == "--port-file") {
      options.portFile = value;
    } else {
      error = "unknown option or bad value: " + word + " " + value;
      return std::nullopt;
    }
  }
  options.processing.reportBytes = options.intake.exchanges.limits.reportBytes;
  const bool tls = !options.intake.certificateFile.empty() && !options.intake.keyFile.empty();
  if (tls == plain || (!tls && (!options.intake.certificateFile.empty() || !options.intake.keyFile.empty()))) {
    error = "give --tls-cert and --tls-key, or --plain-http (behind a proxy that ends TLS)";
    return std::nullopt;
  }
  return options;
}

}  // namespace kx::server
