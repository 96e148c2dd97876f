// The crash data message from the crashed application's pipe: any bytes, parsed into the crash record.
#include "fuzz_support.h"
#include "intake/crash_data_message.h"

namespace {

std::wstring WidenFileName(std::string_view bytes) { return kx::fuzz::WidenLatin1(bytes); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view message = kx::fuzz::Bytes(data, size);
  kx::CrashData crash;
  if (kx::ParseCrashDataMessage(message, &WidenFileName, crash)) {
    // Both numbers were read, so both keys were there with digits.
    const auto records = kx::ReadCrashRecords(message);
    KX_FUZZ_CHECK(records.count("ProcessId") == 1 && records.count("ThreadId") == 1);
  }
  return 0;
}
