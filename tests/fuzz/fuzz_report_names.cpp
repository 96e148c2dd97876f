// A report document read back from disk for sendlog: any bytes, widened as a text-mode read does and
// closed; the result keeps the bytes before the first end tag and ends with exactly one.
#include "dispatch/report_closing.h"
#include "dispatch/report_names.h"
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
  return 0;
}
