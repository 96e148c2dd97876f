// The crash data message from the crashed application's pipe: any bytes, parsed into the crash record. The
// optional list fields carry any bytes back exactly and never hold a separator.
#include "fuzz_support.h"
#include "intake/crash_data_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view message = kx::fuzz::Bytes(data, size);
  kx::CrashData crash;
  if (kx::ParseCrashDataMessage(message, &kx::fuzz::WidenLatin1, crash)) {
    // Both numbers were read, so both keys were there with digits.
    const auto records = kx::ReadCrashRecords(message);
    KX_FUZZ_CHECK(records.count("ProcessId") == 1 && records.count("ThreadId") == 1);
  }
  const std::string bytes(message);
  const std::vector<kx::Annotation> annotations = {{bytes.substr(0, size / 2), bytes.substr(size / 2)}};
  const std::string encoded = kx::EncodeAnnotations(annotations);
  KX_FUZZ_CHECK(encoded.find("KX---") == std::string::npos && encoded.find('\0') == std::string::npos);
  KX_FUZZ_CHECK(kx::DecodeCrashField(kx::EncodeCrashField(bytes)) == bytes);
  KX_FUZZ_CHECK(annotations[0].first.empty() || kx::DecodeAnnotations(encoded) == annotations);
  KX_FUZZ_CHECK(kx::DecodeAttachments(kx::EncodeAttachments({bytes})) ==
                (bytes.empty() ? std::vector<std::string>{} : std::vector<std::string>{bytes}));
  return 0;
}
