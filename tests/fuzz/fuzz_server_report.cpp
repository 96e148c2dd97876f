// kxserver's reader of crash reports, over any document: it never fails, signs what it reads, and both
// copies the client makes of one document (the solution exchange's and, closed by sendlog with the client's
// own code, the upload) are one crash.
#include "dispatch/report_closing.h"
#include "dispatch/report_names.h"
#include "fuzz_support.h"
#include "rules/signature.h"
#include "wire/report_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view stored = kx::fuzz::Bytes(data, size);
  const kx::server::ReportFacts facts = kx::server::ReadReport(stored);
  if (facts.readable()) {
    KX_FUZZ_CHECK(facts.guid.size() == 36);
    const std::string signature = kx::server::CrashSignature(facts);
    KX_FUZZ_CHECK(!signature.empty() && signature.find('\n') == std::string::npos);
  }
  // Text mode, as the client reads the stored file: CR LF as LF.
  const std::wstring textMode = kx::WidenTextModeBytes(stored);
  std::string sent;
  for (const wchar_t c : textMode) sent.push_back(static_cast<char>(c));
  const std::string identity = kx::server::ReportIdentity(sent);
  for (const bool dumpAttached : {false, true}) {
    KX_FUZZ_CHECK(kx::server::ReportIdentity(kx::CloseReportDocument(textMode, dumpAttached)) == identity);
  }
  return 0;
}
