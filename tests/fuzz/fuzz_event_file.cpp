// An analytics event file from the ingest folder, which any program may write: parsed, then carried in the
// JSON document, which must read back as the fixed members followed by the file's entries.
#include "fuzz_support.h"
#include "ingest/event_document.h"
#include "ingest/event_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = kx::fuzz::Bytes(data, size);
  const kx::EventEntries entries = kx::ParseEventFile(bytes);
  for (const auto& [key, value] : entries) {
    KX_FUZZ_CHECK(key.find_first_of(":\n") == std::string::npos && value.find('\n') == std::string::npos);
  }
  if (entries.empty()) return 0;

  const std::string document =
      kx::BuildEventDocument(entries, "2024-01-31T14:05:09.123+0100", &kx::fuzz::WidenLatin1);
  const std::optional<kx::fuzz::JsonValue> read = kx::fuzz::JsonReader::Parse(document);
  KX_FUZZ_CHECK(read && read->members.size() == 1 && read->members[0].second.items.size() == 1);
  const kx::fuzz::JsonValue& event = read->members[0].second.items[0];
  KX_FUZZ_CHECK(event.members.size() == 5 && event.members[4].first == L"data");
  const auto& members = event.members[4].second.members;
  constexpr std::size_t kFixed = 7;
  KX_FUZZ_CHECK(members.size() == kFixed + entries.size());
  auto member = members.begin() + kFixed;
  for (const auto& [key, value] : entries) {
    KX_FUZZ_CHECK(member->first == kx::fuzz::WidenLatin1(key));
    KX_FUZZ_CHECK(member->second.text == kx::fuzz::WidenLatin1(value));
    ++member;
  }
  return 0;
}
