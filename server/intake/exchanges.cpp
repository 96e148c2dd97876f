#include "intake/exchanges.h"

#include <algorithm>
#include <ctime>
#include <optional>

#include "wire/exchange_bodies.h"
#include "wire/report_reader.h"
#include "wire/upload_names.h"
#include "common/wire_names.h"

namespace kx::server {
namespace {

enum class BodyEnd { kWhole, kTooLarge, kCut };

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::optional<std::uint64_t> DeclaredLength(const httplib::Request& request) {
  if (!request.has_header("Content-Length")) return std::nullopt;
  try {
    return std::stoull(request.get_header_value("Content-Length"));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// Reads the body into memory, at most `limit` bytes of it.
BodyEnd ReadBody(const httplib::ContentReader& reader, std::uint64_t limit, std::string& body) {
  bool tooLarge = false;
  const bool whole = reader([&](const char* data, std::size_t size) {
    tooLarge = body.size() + size > limit;
    if (!tooLarge) body.append(data, size);
    CurrentRequest().bytes += size;
    return !tooLarge;
  });
  return whole ? BodyEnd::kWhole : tooLarge ? BodyEnd::kTooLarge : BodyEnd::kCut;
}

// Reads and drops the body of a request about to be refused, so that its answer is not lost in a reset.
void DrainBody(const httplib::Request& request, const httplib::ContentReader& reader, std::uint64_t bound) {
  const std::optional<std::uint64_t> length = DeclaredLength(request);
  if (length && *length > bound) return;
  std::uint64_t read = 0;
  reader([&](const char*, std::size_t size) {
    read += size;
    CurrentRequest().bytes += size;
    return read <= bound;
  });
}

void Refuse(httplib::Response& response, int status, const std::string& why) {
  response.status = status;
  CurrentRequest().detail = why;
}

}  // namespace

RequestNote& CurrentRequest() {
  static thread_local RequestNote note;
  return note;
}

Exchanges::Exchanges(Store& store, Metrics& metrics, ExchangeSettings settings, std::function<void()> queued)
    : store_(store), metrics_(metrics), settings_(std::move(settings)), limiter_(settings_.rates),
      queued_(std::move(queued)) {}

bool Exchanges::Limited(std::int64_t wait, const char* scope, httplib::Response& response) {
  if (wait <= 0) return false;
  response.set_header("Retry-After", std::to_string(wait));
  Refuse(response, 429, std::string("rate limit (") + scope + ")");
  metrics_.CountRefusal(scope);
  return true;
}

// The store cannot take it now (database away, disk full): the client keeps what it sent for a later run.
void Exchanges::Unavailable(const std::exception& error, httplib::Response& response) {
  response.set_header("Retry-After", "60");
  Refuse(response, 503, std::string("store: ") + error.what());
  metrics_.CountRefusal("store");
}

void Exchanges::Solution(const httplib::Request&, httplib::Response& response, const httplib::ContentReader& body) {
  CurrentRequest().exchange = "solution";
  std::string document;
  const BodyEnd end = ReadBody(body, settings_.limits.exchangeBytes, document);
  if (end != BodyEnd::kWhole) return Refuse(response, end == BodyEnd::kTooLarge ? 413 : 400, "body");
  const ReportFacts facts = ReadReport(document);
  // Refused: no headers, so the client keeps no dump and shows no link.
  if (Limited(limiter_.Admit(facts.guid, MonotonicMs()), "installation", response)) return;
  try {
    const SolutionAnswer answer = store_.RecordSolutionReport(facts, document, Now());
    if (!answer.link.empty()) response.set_header(wire::kSolutionUrlHeader, answer.link);
    response.set_header(wire::kAttachDumpHeader, answer.attachDump ? "yes" : "no");
    CurrentRequest().detail = (facts.readable() ? facts.guid : "unreadable report: " + facts.problem) +
                              (answer.attachDump ? ", dump asked for" : ", no dump") +
                              (answer.link.empty() ? "" : ", link");
  } catch (const std::exception& error) {
    Unavailable(error, response);
  }
}

void Exchanges::Preferences(const httplib::Request&, httplib::Response& response,
                            const httplib::ContentReader& body) {
  CurrentRequest().exchange = "preferences";
  std::string text;
  const BodyEnd end = ReadBody(body, settings_.limits.exchangeBytes, text);
  if (end != BodyEnd::kWhole) return Refuse(response, end == BodyEnd::kTooLarge ? 413 : 400, "body");
  const std::optional<std::vector<BuildPreference>> asked = ReadPreferenceRequest(text);
  if (!asked) return Refuse(response, 400, "not a list of builds");
  if (Limited(limiter_.AdmitOverall(MonotonicMs()), "overall", response)) return;
  try {
    const std::vector<BuildPreference> answer = store_.PreferencesFor(*asked);
    response.set_header(wire::kUpdatedPreferencesHeader, UpdatedPreferencesValue(answer));
    CurrentRequest().detail = std::to_string(asked->size()) + " builds, " + std::to_string(answer.size()) + " set";
  } catch (const std::exception& error) {
    Unavailable(error, response);
  }
}

void Exchanges::Events(const httplib::Request& request, httplib::Response& response,
                       const httplib::ContentReader& body) {
  CurrentRequest().exchange = "events";
  if (!SameSecret(request.get_header_value(wire::kApiKeyHeader), settings_.ingestKey)) {
    DrainBody(request, body, settings_.limits.eventBytes);
    metrics_.CountRefusal("api key");
    return Refuse(response, 401, "wrong API key");
  }
  std::string text;
  const BodyEnd end = ReadBody(body, settings_.limits.eventBytes, text);
  if (end != BodyEnd::kWhole) return Refuse(response, end == BodyEnd::kTooLarge ? 413 : 400, "body");
  const std::optional<EventDocument> event = ReadEventDocument(text);
  if (!event) return Refuse(response, 400, "not an event document");
  if (Limited(limiter_.AdmitOverall(MonotonicMs()), "overall", response)) return;
  try {
    store_.SaveEvent(*event, text, Now());
    CurrentRequest().detail = event->type;
  } catch (const std::exception& error) {
    Unavailable(error, response);
  }
}

std::uint64_t Exchanges::UploadLimit(const std::string& kind) const {
  const IntakeLimits& limits = settings_.limits;
  return kind == "dump" ? limits.dumpBytes
         : kind == "report" ? limits.reportBytes
         : kind == "attachment" ? limits.attachmentBytes
                                : limits.otherBytes;
}

void Exchanges::Upload(const httplib::Request& request, httplib::Response& response,
                       const httplib::ContentReader& body) {
  CurrentRequest().exchange = "upload";
  const UploadCheck check = CheckUploadHeaders(
      {request.get_header_value(wire::kFileNameHeader), request.get_header_value(wire::kFileKindHeader),
       request.get_header_value(wire::kInstallationGuidHeader), request.get_header_value(wire::kReportNameHeader)});
  if (check.fault != UploadHeaderFault::kNone) {
    DrainBody(request, body, settings_.limits.drainBytes);
    metrics_.CountRefusal("headers");
    return Refuse(response, 400, UploadHeaderFaultText(check.fault));
  }
  const UploadIdentity& upload = check.identity;
  CurrentRequest().detail = upload.guid + " " + upload.fileName;
  const std::uint64_t limit = UploadLimit(upload.kind);
  const std::optional<std::uint64_t> length = DeclaredLength(request);
  if (length && *length > limit) {
    DrainBody(request, body, settings_.limits.drainBytes);
    metrics_.CountRefusal("too large");
    return Refuse(response, 413, CurrentRequest().detail + ": over the " + upload.kind + " limit");
  }
  if (Limited(limiter_.Admit(upload.guid, MonotonicMs()), "installation", response)) {
    DrainBody(request, body, std::min(limit, settings_.limits.drainBytes));
    return;
  }
  try {
    if (store_.HasUpload(upload)) {
      // A 2xx before the whole body went out does not cover the file for the client: read it all.
      DrainBody(request, body, limit);
      metrics_.CountUpload(upload.kind, false);
      CurrentRequest().detail += " (repeat)";
      return;
    }
    if (StoreUpload(upload, body, limit, response)) queued_();
  } catch (const std::exception& error) {
    Unavailable(error, response);
  }
}

// The body goes to a spool as it arrives; a body cut short or over the limit is never stored.
bool Exchanges::StoreUpload(const UploadIdentity& upload, const httplib::ContentReader& body, std::uint64_t limit,
                            httplib::Response& response) {
  std::unique_ptr<Spool> spool = store_.NewSpool();
  bool tooLarge = false, written = true;
  const bool whole = body([&](const char* data, std::size_t size) {
    CurrentRequest().bytes += size;
    tooLarge = spool->size() + size > limit;
    written = !tooLarge && spool->Add(std::string_view(data, size));
    return written;
  });
  if (tooLarge) {
    metrics_.CountRefusal("too large");
    Refuse(response, 413, CurrentRequest().detail + ": over the " + upload.kind + " limit");
    return false;
  }
  if (!written) throw std::runtime_error("cannot write the body to disk");
  if (!whole) {
    Refuse(response, 400, CurrentRequest().detail + ": body cut short");
    return false;
  }
  const bool stored = store_.SaveUpload(upload, *spool, Now());
  metrics_.CountUpload(upload.kind, stored);
  if (!stored) CurrentRequest().detail += " (repeat)";
  return stored;
}

void Exchanges::MetricsPage(const httplib::Request&, httplib::Response& response) {
  CurrentRequest().exchange = "metrics";
  std::int64_t queued = -1;
  try {
    queued = store_.QueuedJobs();
  } catch (const std::exception&) {
    // The store is away: the page still shows this instance's counters.
  }
  response.set_content(metrics_.Text(queued), "text/plain; version=0.0.4");
}

void Exchanges::Health(const httplib::Request&, httplib::Response& response) {
  CurrentRequest().exchange = "health";
  try {
    store_.QueuedJobs();
    response.set_content("ok\n", "text/plain");
  } catch (const std::exception& error) {
    Unavailable(error, response);
  }
}

}  // namespace kx::server
