// Server values from the client configuration, the solution server's answers and the link handed to the
// browser, the file names the log transport puts into its headers, and the upload server's answers: any
// text.
#include <algorithm>

#include "fuzz_support.h"
#include "net/server_address.h"
#include "net/solution_answer.h"
#include "transport/upload_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = kx::fuzz::Bytes(data, size);
  const std::wstring wide = kx::fuzz::Utf16Units(text);

  const std::wstring host = kx::ServerHostFromValue(wide);
  KX_FUZZ_CHECK(host.size() <= wide.size() && wide.find(host) != std::wstring::npos);
  KX_FUZZ_CHECK(host.find_first_of(L"/?#") == std::wstring::npos);

  kx::IsDumpWanted(text);
  if (kx::IsOpenableLink(text)) {
    KX_FUZZ_CHECK(text.find_first_of(" \"\t\r\n") == std::string_view::npos);
  }

  // Percent-encoding reads back to the same bytes, and a header line cannot be broken by a name.
  const std::string encoded = kx::PercentEncode(text);
  std::string decoded;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const bool escape = encoded[i] == '%';
    KX_FUZZ_CHECK(!escape || i + 2 < encoded.size());
    decoded += escape ? static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16)) : encoded[i];
    i += escape ? 2 : 0;
  }
  KX_FUZZ_CHECK(decoded == text);
  if (kx::IsFinishedFileName(wide)) KX_FUZZ_CHECK(wide.size() > 6);
  const std::string headers = kx::UploadHeaders(text, kx::UploadKindOf(wide), text);
  KX_FUZZ_CHECK(std::count(headers.begin(), headers.end(), '\n') == 4);
  // Whatever an answer's header block says, a pause starts after now and ends within the bound.
  constexpr std::int64_t kNow = 1700000000;
  if (const std::optional<std::int64_t> until = kx::RetryAfterFromHeaders(text, kNow)) {
    KX_FUZZ_CHECK(*until > kNow && *until <= kNow + kx::kMaxRetryAfterSeconds);
  }
  return 0;
}
