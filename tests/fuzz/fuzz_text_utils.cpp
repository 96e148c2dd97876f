// The byte-wise text helpers every reader builds on and the installation GUID's text: any text, checked
// against what the C library or a re-join says.
#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "common/text_utils.h"
#include "fuzz_support.h"
#include "prefs/installation_guid.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = kx::fuzz::Bytes(data, size);

  // Up to its first NUL the text reads as strtoll reads it, with magnitudes beyond 2^32 saturated.
  const std::string cText(text.substr(0, text.find('\0')));
  const std::optional<std::int64_t> number = kx::ReadLeadingInteger(cText);
  char* end = nullptr;
  errno = 0;
  const long long reference = std::strtoll(cText.c_str(), &end, 10);
  KX_FUZZ_CHECK(number.has_value() == (end != cText.c_str()));
  constexpr long long kSaturated = 1ll << 32;
  if (number) KX_FUZZ_CHECK(*number == std::max(-kSaturated, std::min(kSaturated, reference)));

  // The pieces joined again give the text, less a trailing delimiter.
  const std::string_view delimiter = text.substr(0, size % 4);
  const std::string_view subject = text.substr(delimiter.size());
  std::vector<std::string> pieces;
  kx::SplitText(subject, delimiter, pieces);
  std::string joined;
  for (std::size_t i = 0; i < pieces.size(); ++i) joined.append(i == 0 ? "" : delimiter).append(pieces[i]);
  KX_FUZZ_CHECK(joined == subject || joined + std::string(delimiter) == subject);

  const std::string trimmed = kx::TrimText(text);
  KX_FUZZ_CHECK(text.find(trimmed) != std::string_view::npos);
  KX_FUZZ_CHECK(trimmed.empty() || (!kx::IsCSpace(trimmed.front()) && !kx::IsCSpace(trimmed.back())));

  if (size >= 16) {
    // Whatever the GUID's bytes, its text is one the registry check trusts.
    const std::uint8_t tail[8] = {data[8],  data[9],  data[10], data[11],
                                  data[12], data[13], data[14], data[15]};
    const std::wstring guid = kx::FormatInstallationGuid(
        static_cast<std::uint32_t>(data[0] | data[1] << 8 | data[2] << 16 | std::uint32_t{data[3]} << 24),
        static_cast<std::uint16_t>(data[4] | data[5] << 8),
        static_cast<std::uint16_t>(data[6] | data[7] << 8), tail);
    KX_FUZZ_CHECK(kx::IsWellFormedGuid(guid));
  }
  return 0;
}
