// kxserver's check of an upload's header lines, over any values: what it accepts is a plain finished file
// name of the kind the name says, and the crash identifier it found makes the name again.
#include "fuzz_support.h"
#include "transport/upload_rules.h"
#include "wire/upload_names.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Four lines: file name, kind, installation GUID, report name.
  std::vector<std::string> lines(4);
  std::size_t line = 0;
  for (const char c : kx::fuzz::Bytes(data, size)) {
    if (c == '\n' && line < 3) {
      ++line;
    } else {
      lines[line].push_back(c);
    }
  }
  const kx::server::UploadCheck check = kx::server::CheckUploadHeaders({lines[0], lines[1], lines[2], lines[3]});
  const std::optional<std::string> decoded = kx::server::PercentDecode(lines[0]);
  if (decoded) KX_FUZZ_CHECK(kx::server::PercentDecode(kx::PercentEncode(*decoded)) == decoded);
  if (check.fault != kx::server::UploadHeaderFault::kNone) return 0;
  const kx::server::UploadIdentity& upload = check.identity;
  KX_FUZZ_CHECK(decoded && upload.fileName == *decoded);
  KX_FUZZ_CHECK(upload.fileName.find_first_of(std::string("/\\:\0", 4)) == std::string::npos);
  KX_FUZZ_CHECK(upload.kind == lines[1] && upload.guid.size() == 36);
  if (upload.kind == "other") return 0;
  const std::string& named = upload.kind == "attachment" ? upload.reportName : upload.fileName;
  KX_FUZZ_CHECK(!upload.crashId.empty() && kx::server::CrashIdOfName(named, upload.guid) == upload.crashId);
  return 0;
}
