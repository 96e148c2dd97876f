#include "app/options.h"

#include <algorithm>
#include <functional>
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
    } else if (word == "--symbol-store" && valued) {
      location.symbolStore = words[++at];
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
  if (location.symbolStore.empty() && !location.dataFolder.empty()) location.symbolStore = location.dataFolder + "/symbols";
  words = rest;
  return location;
}

std::optional<ServeOptions> ParseServeOptions(const std::vector<std::string>& words,
                                              const std::string& dumpReader, std::string& error) {
  std::vector<std::string> rest = words;
  std::optional<StoreLocation> location = TakeStoreLocation(rest, error);
  if (!location) return std::nullopt;
  ServeOptions options;
  options.store = *location;
  IntakeOptions& intake = options.intake;
  ExchangeSettings& exchanges = intake.exchanges;
  exchanges.ingestKey = kIngestProject;
  exchanges.rates.perInstallation = 60;
  options.processing.dumpReader = {dumpReader, "--json"};
  std::vector<std::string> symbolFolders;
  options.processing.spoolFolder = location->spoolFolder;
  options.processing.symbolStore = location->symbolStore;
  bool plain = false;
  // Each option with a value: true when the value is one it takes.
  using Setter = std::function<bool(const std::string&)>;
  const auto number = [](long long most, const std::function<void(long long)>& set) -> Setter {
    return [most, set](const std::string& value) {
      long long read = 0;
      if (!ReadNumber(value, most, read)) return false;
      set(read);
      return true;
    };
  };
  const auto text = [](std::string& into) -> Setter {
    return [&into](const std::string& value) { return !(into = value).empty(); };
  };
  const std::map<std::string, Setter> setters = {
      {"--listen", [&](const std::string& value) { return ReadListen(value, intake); }},
      {"--tls-cert", text(intake.certificateFile)},
      {"--tls-key", text(intake.keyFile)},
      {"--threads", number(4096, [&](long long n) { intake.threads = static_cast<int>(std::max(1LL, n)); })},
      {"--max-dump-mib", number(1 << 20, [&](long long n) { exchanges.limits.dumpBytes = static_cast<std::uint64_t>(n) << 20; })},
      {"--rate-per-installation", number(1 << 30, [&](long long n) { exchanges.rates.perInstallation = static_cast<double>(n); })},
      {"--rate-overall", number(1 << 30, [&](long long n) { exchanges.rates.overall = static_cast<double>(n); })},
      {"--ingest-key", text(exchanges.ingestKey)},
      {"--dump-reader", [&](const std::string& value) { return !(options.processing.dumpReader[0] = value).empty(); }},
      {"--symbols", [&](const std::string& value) { symbolFolders.push_back(value); return !value.empty(); }},
      {"--dump-seconds", number(3600, [&](long long n) { options.processing.dumpSeconds = static_cast<int>(std::max(1LL, n)); })},
      {"--access-log", text(options.accessLogPath)},
      {"--port-file", text(options.portFile)},
      {"--symbols-key", text(options.symbolsKey)},
  };
  for (std::size_t at = 0; at < rest.size(); ++at) {
    if (rest[at] == "--plain-http") {
      plain = true;
      continue;
    }
    const auto setter = setters.find(rest[at]);
    if (setter == setters.end() || at + 1 >= rest.size() || !setter->second(rest[at + 1])) {
      error = "unknown option, or a missing or bad value: " + rest[at];
      return std::nullopt;
    }
    ++at;
  }
  for (const std::string& folder : symbolFolders) {
    options.processing.dumpReader.push_back("--symbols");
    options.processing.dumpReader.push_back(folder);
  }
  options.processing.reportBytes = exchanges.limits.reportBytes;
  const bool tls = !intake.certificateFile.empty() && !intake.keyFile.empty();
  if (tls == plain || (!tls && (!intake.certificateFile.empty() || !intake.keyFile.empty()))) {
    error = "give --tls-cert and --tls-key, or --plain-http (behind a proxy that ends TLS)";
    return std::nullopt;
  }
  return options;
}

}  // namespace kx::server
