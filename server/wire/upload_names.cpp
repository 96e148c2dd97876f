#include "wire/upload_names.h"

#include <initializer_list>

#include "common/ascii_text.h"
#include "common/hex_text.h"
#include "common/name_piece.h"
#include "dispatch/report_names.h"
#include "prefs/installation_guid.h"
#include "transport/upload_rules.h"
#include "wire/text.h"

namespace kx::server {
namespace {

constexpr std::size_t kMaxFileNameBytes = 255;
constexpr std::size_t kGuidChars = 36;

// A stem is prefix + guid + middle + crash id + tail. The pieces come from the client's own stem functions,
// probed with two marker characters, so that no literal of the names is written twice.
struct StemShape {
  std::string prefix, middle, tail;
};

StemShape ShapeOf(std::wstring (*stem)(std::wstring_view, std::wstring_view)) {
  const std::string probe = Narrow(stem(L"\x01", L"\x02"));
  const std::size_t guid = probe.find('\x01');
  const std::size_t id = probe.find('\x02');
  return {probe.substr(0, guid), probe.substr(guid + 1, id - guid - 1), probe.substr(id + 1)};
}

const StemShape& ReportShape() {
  static const StemShape shape = ShapeOf(&ReportStem);
  return shape;
}

const StemShape& DumpShape() {
  static const StemShape shape = ShapeOf(&DumpStem);
  return shape;
}

bool StartsWith(std::string_view text, std::string_view start) {
  return text.size() >= start.size() && text.substr(0, start.size()) == start;
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  LowerAsciiInPlace(lower);
  return lower;
}

// The crash identifier when `name` is the stem for `guid` followed by one of the endings.
std::optional<std::string> CrashIdOfStem(std::string_view name, std::string_view guid, const StemShape& shape,
                                         std::initializer_list<std::string> endings) {
  if (!StartsWith(name, shape.prefix)) return std::nullopt;
  name.remove_prefix(shape.prefix.size());
  if (name.size() < kGuidChars || Lower(name.substr(0, kGuidChars)) != Lower(guid)) return std::nullopt;
  name.remove_prefix(kGuidChars);
  if (!StartsWith(name, shape.middle)) return std::nullopt;
  name.remove_prefix(shape.middle.size());
  const std::size_t tail = name.find(shape.tail);
  if (tail == 0 || tail == std::string_view::npos) return std::nullopt;
  const std::string_view rest = name.substr(tail + shape.tail.size());
  for (const std::string& ending : endings) {
    if (rest == ending) return std::string(name.substr(0, tail));
  }
  return std::nullopt;
}

// The GUID-long piece after a report's or dump's prefix, whatever it holds.
std::string GuidPieceOf(std::string_view name) {
  for (const StemShape* shape : {&ReportShape(), &DumpShape()}) {
    if (StartsWith(name, shape->prefix) && name.size() >= shape->prefix.size() + kGuidChars)
      return std::string(name.substr(shape->prefix.size(), kGuidChars));
  }
  return {};
}

UploadCheck Fault(UploadHeaderFault fault) { return UploadCheck{fault, {}}; }

}  // namespace

std::optional<std::string> PercentDecode(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    char c = text[at];
    if (c == '%') {
      // Stricter than the client's own decoder: a "%" without two digits is a garbled name, refused.
      if (at + 2 >= text.size() || HexDigitValue(text[at + 1]) < 0 || HexDigitValue(text[at + 2]) < 0)
        return std::nullopt;
      c = static_cast<char>(HexDigitValue(text[at + 1]) * 16 + HexDigitValue(text[at + 2]));
      at += 2;
    }
    if (c == '\0') return std::nullopt;
    bytes.push_back(c);
  }
  return bytes;
}

std::optional<std::string> CrashIdOfName(std::string_view fileName, std::string_view guid) {
  const std::string final = Narrow(kFinalSuffix);
  if (auto id = CrashIdOfStem(fileName, guid, ReportShape(), {final})) return id;
  return CrashIdOfStem(fileName, guid, DumpShape(),
                       {Narrow(kMiniDumpSuffix) + final, Narrow(kFullDumpSuffix) + final});
}

UploadCheck CheckUploadHeaders(const UploadHeaderLines& lines) {
  const std::optional<std::string> guid = PercentDecode(lines.guid);
  if (!guid || !IsWellFormedGuid(Widen(*guid))) return Fault(UploadHeaderFault::kBadGuid);
  const std::optional<std::string> name = PercentDecode(lines.fileName);
  if (!name || name->size() > kMaxFileNameBytes || !IsUsableFileName(Widen(*name)) ||
      !IsFinishedFileName(Widen(*name))) {
    return Fault(UploadHeaderFault::kBadFileName);
  }
  UploadIdentity identity;
  identity.guid = Lower(*guid);
  identity.fileName = *name;
  identity.kind = UploadKindOf(Widen(*name));
  if (lines.kind != identity.kind) return Fault(UploadHeaderFault::kKindMismatch);
  if (identity.kind == "other") return UploadCheck{UploadHeaderFault::kNone, identity};

  std::string ownName = *name;
  if (identity.kind == "attachment") {
    identity.reportName = Narrow(ReportNameOfAttachment(Widen(*name)));
    if (PercentDecode(lines.reportName) != identity.reportName) return Fault(UploadHeaderFault::kReportMismatch);
    ownName = identity.reportName;
  }
  const std::optional<std::string> crashId = CrashIdOfName(ownName, identity.guid);
  if (!crashId) {
    // The client's shape, but another installation's GUID inside, is told apart from a foreign name.
    const bool otherGuid = CrashIdOfName(ownName, GuidPieceOf(ownName)).has_value();
    return Fault(otherGuid ? UploadHeaderFault::kGuidMismatch : UploadHeaderFault::kBadFileName);
  }
  identity.crashId = *crashId;
  identity.fullDump = identity.kind == "dump" && EndsWith(*name, Narrow(kFullDumpSuffix) + Narrow(kFinalSuffix));
  return UploadCheck{UploadHeaderFault::kNone, identity};
}

const char* UploadHeaderFaultText(UploadHeaderFault fault) {
  switch (fault) {
    case UploadHeaderFault::kNone: return "none";
    case UploadHeaderFault::kBadGuid: return "bad installation GUID";
    case UploadHeaderFault::kBadFileName: return "bad file name";
    case UploadHeaderFault::kKindMismatch: return "file kind does not match the name";
    case UploadHeaderFault::kGuidMismatch: return "the name holds another installation's GUID";
    case UploadHeaderFault::kReportMismatch: return "report name does not match the attachment";
  }
  return "?";
}

}  // namespace kx::server
