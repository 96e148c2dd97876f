// The sender's side of the crash data message: whatever the values hold, the service reads back every
// record with the value the handler meant (NULs dropped, "KX---" defused), and no value splits a record.
#include <map>

#include "fuzz_support.h"
#include "intake/crash_data_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* const kKeys[] = {"ProductName", "StackTrace", "Context", "ProcessId"};
  // The input is the values, one per key in turn, separated by 0xFF bytes.
  std::vector<std::pair<std::string, std::string>> records;
  std::map<std::string, std::string> expected;
  std::string_view rest = kx::fuzz::Bytes(data, size);
  for (std::size_t i = 0; !rest.empty(); ++i) {
    const std::size_t end = rest.find('\xFF');
    const std::string value(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    records.emplace_back(kKeys[i % 4], value);
    expected[kKeys[i % 4]] = kx::CrashRecordValue(value);
  }
  const std::string message = kx::JoinCrashRecords(records);
  KX_FUZZ_CHECK(message.find('\0') == std::string::npos);
  KX_FUZZ_CHECK(kx::ReadCrashRecords(message) == expected);
  return 0;
}
