// A report document read back from disk for sendlog: any bytes, widened as a text-mode read does and
// closed; the result keeps the bytes before the first end tag and ends with exactly one. The first eight
// bytes double as a signature check's status and last error.
#include <cstring>

#include "dispatch/report_closing.h"
#include "dispatch/report_names.h"
#include "dispatch/trust_verdict.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = kx::fuzz::Bytes(data, size);
  const std::wstring text = kx::WidenTextModeBytes(bytes);
  KX_FUZZ_CHECK(text.size() <= bytes.size());
  const bool dumpAttached = size % 2 == 1;
  const std::string closed = kx::CloseReportDocument(text, dumpAttached);
  const std::string end = std::string(kx::kReportEndTag) + "\r\n";
  KX_FUZZ_CHECK(closed.size() >= end.size() &&
                closed.compare(closed.size() - end.size(), end.size(), end) == 0);
  KX_FUZZ_CHECK(closed.find(kx::kReportEndTag) == closed.size() - end.size());

  if (size < 8) return 0;
  std::int32_t status = 0;
  std::uint32_t lastError = 0;
  std::memcpy(&status, data, 4);
  std::memcpy(&lastError, data + 4, 4);
  const kx::TrustVerdict verdict = kx::JudgeTrustStatus(status, lastError);
  KX_FUZZ_CHECK(verdict.trusted == (status == 0) && !verdict.message.empty());
  return 0;
}
