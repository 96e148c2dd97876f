// The minidump parser on a small dump laid out by hand, and copies of it broken in each way a hostile or
// truncated file can be, which must be refused. That no input makes it read outside the file is
// fuzz_minidump's property, run under the sanitizers; what it shows of real dumps, createdump_e2e_tests.
#include "dumpinfo/minidump_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/test_files.h"

namespace kx {
namespace {

using test::Contains;

// Where the parts of the hand-made dump lie: header, directory (exception, module list, system info), the
// exception stream, its x64 context, two modules, the system info, then the strings.
constexpr std::size_t kDirectory = 32, kException = 68, kContext = 236, kModules = 1468, kSystem = 1688,
                      kStrings = 1744;

void Put(std::string& bytes, std::size_t at, std::uint64_t value, std::size_t width) {
  if (bytes.size() < at + width) bytes.resize(at + width);
  for (std::size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

std::uint32_t PutString(std::string& bytes, const std::u16string& text) {
  const std::size_t at = bytes.size();
  Put(bytes, at, text.size() * 2, 4);
  for (std::size_t i = 0; i < text.size(); ++i) Put(bytes, at + 4 + 2 * i, text[i], 2);
  return static_cast<std::uint32_t>(at);
}

std::string GoodDump() {
  std::string d;
  Put(d, 0, 0x504D444D, 4), Put(d, 4, 0xA793, 4), Put(d, 8, 3, 4), Put(d, 12, kDirectory, 4);
  const std::size_t streams[][3] = {{6, 168, kException}, {4, 4 + 2 * 108, kModules}, {7, 56, kSystem}};
  for (std::size_t i = 0; i < 3; ++i) {
    for (std::size_t f = 0; f < 3; ++f) Put(d, kDirectory + 12 * i + 4 * f, streams[i][f], 4);
  }
  Put(d, kException, 0x1234, 4), Put(d, kException + 8, 0xC0000005, 4);
  Put(d, kException + 24, 0x00007FF6A1B21234, 8), Put(d, kException + 32, 2, 4);
  Put(d, kException + 160, 1232, 4), Put(d, kException + 164, kContext, 4);
  Put(d, kModules, 2, 4);
  Put(d, kModules + 4, 0x00007FF6A1B20000, 8), Put(d, kModules + 12, 0x1F000, 4);
  Put(d, kSystem, 9, 2), Put(d, kSystem + 6, 8, 1), Put(d, kSystem + 8, 10, 4),
      Put(d, kSystem + 16, 19045, 4);
  d.resize(kStrings);
  Put(d, kModules + 24, PutString(d, u"C:\\app\\crasher.exe"), 4);
  Put(d, kModules + 132, PutString(d, u"C:\\app\\b.dll"), 4);
  Put(d, kSystem + 24, PutString(d, u"Service Pack 1"), 4);  // last: a truncated file loses part of it
  return d;
}

TEST(MinidumpParserTest, HostileDumpsAreRefused) {
  ASSERT_EQ("", ParseMinidump(GoodDump()).error);
  const std::size_t end = GoodDump().size();
  struct Case {
    const char* what;
    std::size_t at;  // where the good dump is changed
    std::uint64_t value;
    std::size_t width;  // 0: the file is cut to `at` bytes
    const char* error;
  };
  const Case cases[] = {
      {"shorter than a header", 31, 0, 0, "shorter than a minidump header (31"},
      {"bad signature", 3, 'Q', 1, "no \"MDMP\" signature"},
      {"directory beyond the end", 12, end - 20, 4, "stream directory of 3"},
      {"directory count too big", 8, 0x20000000, 4, "of 536870912 entries"},
      {"stream RVA beyond the end", kDirectory + 12 + 8, end + 1, 4, "stream 1 (type 4)"},
      {"stream size beyond the end", kDirectory + 24 + 4, 0xFFFFFFFF, 4, "stream 2 (type 7)"},
      {"exception stream too short", kDirectory + 4, 100, 4, "shorter than 168"},
      {"16 exception parameters", kException + 32, 16, 4, "16 parameters"},
      {"context beyond the end", kException + 164, end - 100, 4, "context"},
      {"module count that does not fit", kModules, 3, 4, "cannot hold its 3"},
      {"huge module count", kModules, 0xFFFFFFFF, 4, "cannot hold its 4294967295"},
      {"module name RVA beyond the end", kModules + 24, end - 2, 4, "module 0"},
      {"module name too long", kStrings, 0xFFFFFFF0, 4, "module 0"},
      {"system info too short", kDirectory + 24 + 4, 40, 4, "shorter than 56"},
      {"truncated file", end - 1, 0, 0, "service pack text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string dump = GoodDump();
    if (c.width == 0) dump.resize(c.at);
    if (c.width != 0) Put(dump, c.at, c.value, c.width);
    const std::string error = ParseMinidump(dump).error;
    EXPECT_TRUE(Contains(error, c.error)) << error;
  }
}

}  // namespace
}  // namespace kx
