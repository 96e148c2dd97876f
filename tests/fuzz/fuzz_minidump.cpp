// ParseMinidump reads dump files that may be truncated or hostile; what it accepts, both outputs of
// kxdumpinfo show: the text as UTF-8 a terminal cannot take for controls, the JSON as a document a parser
// reads, module names intact; and every thread is walked (without a symbol store: by scanning) within the
// bounds, the crashed one first.
#include "dumpinfo/dump_format.h"
#include "dumpinfo/dump_stacks.h"
#include "dumpinfo/minidump_parser.h"
#include "fuzz_support.h"

namespace {

// A store that has nothing: every frame is found by its context or by scanning, and none is named.
class NoSymbols : public kx::StackSymbols {
 public:
  const kx::PeImage* Image(const kx::ModuleKey&) override { return nullptr; }
  std::vector<kx::SourceFrame> Names(const kx::ModuleKey&, std::uint64_t) override { return {}; }
};

// Well-formed UTF-8 without C0 or C1 controls other than the line feed.
bool IsInertUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || text.size() - i < length) return false;
    std::uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    static const std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kLeast[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
    if ((point < 0x20 && point != '\n') || (point >= 0x80 && point < 0xA0)) return false;
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const kx::MinidumpParse parse = kx::ParseMinidump(kx::fuzz::Bytes(data, size));
  if (!parse.error.empty()) return 0;
  NoSymbols store;
  const kx::DumpStacks stacks = kx::WalkDump(parse.info, store);
  KX_FUZZ_CHECK(stacks.threads.size() <= kx::kMostThreadsWalked);
  KX_FUZZ_CHECK(stacks.threads.empty() || stacks.threads.front().crashed == parse.info.exception.has_value());
  KX_FUZZ_CHECK(IsInertUtf8(kx::FormatDumpText(parse.info, &stacks)));

  const std::optional<kx::fuzz::JsonValue> json =
      kx::fuzz::JsonReader::Parse(kx::FormatDumpJson(parse.info, &stacks));
  KX_FUZZ_CHECK(json && json->kind == kx::fuzz::JsonValue::Kind::kObject);
  if (!parse.info.modules) return 0;
  for (const auto& [key, value] : json->members) {
    if (key != L"modules") continue;
    KX_FUZZ_CHECK(value.items.size() == parse.info.modules->size());
    for (std::size_t i = 0; i < value.items.size(); ++i) {
      const std::u16string& name = (*parse.info.modules)[i].name;
      const auto& members = value.items[i].members;
      KX_FUZZ_CHECK(!members.empty() && members.back().first == L"name");
      KX_FUZZ_CHECK(members.back().second.text == std::wstring(name.begin(), name.end()));
    }
  }
  return 0;
}
