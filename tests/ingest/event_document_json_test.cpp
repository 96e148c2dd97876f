// The event document read back by a real JSON parser (Python's), for entries that would break a document
// built without escaping, and a key that repeats a fixed one. Host build only, where Python runs.
#include "ingest/event_document.h"

#include <gtest/gtest.h>

#include <string>

#include "support/latin1_json.h"

namespace kx {
namespace {

// The members of "data" in order as "key=value" lines (values as Python's repr of their characters).
std::string DataMembersParsedByPython(const std::string& document) {
  return test::RunPythonOn(
      document,
      "import json,sys\n"
      "doc = json.load(open(sys.argv[1], encoding=\"ascii\"), object_pairs_hook=lambda pairs: pairs)\n"
      "event = dict(dict(doc)[\"events\"][0])\n"
      "assert [k for k, _ in dict(doc)[\"events\"][0]] == "
      "[\"project\", \"ingesttype\", \"time\", \"environment\", \"data\"]\n"
      "open(sys.argv[2], \"w\").write(\"\".join(ascii(k) + \"=\" + ascii(v) + \"\\n\" for k, v in "
      "event[\"data\"]))");
}

TEST(EventDocumentJsonTest, OddEntriesAndARepeatedFixedKeyParseBackExactly) {
  const EventEntries entries = {
      {"event.type", "warning"}, {"quote\"key", "va\"lue}]"},
      {"back\\slash", "\\"},     {"ctl", std::string("\x01\t\x7f", 3)},
      {"caf\xe9", "\xe9t\xe9"},
  };
  const std::string expected =
      "'event.workflow'='Lifecycle'\n'event.category'='DESKTOP'\n'event.subcategory'='Host'\n"
      "'event.type'='error'\n'event.subtype'='exit'\n'event.value'='abnormal:crash'\n"
      "'env.fw.name'='Kestrix SDK'\n'back\\\\slash'='\\\\'\n'caf\\xe9'='\\xe9t\\xe9'\n"
      "'ctl'='\\x01\\t\\x7f'\n'event.type'='warning'\n'quote\"key'='va\"lue}]'\n";
  EXPECT_EQ(expected, DataMembersParsedByPython(
                          BuildEventDocument(entries, "2024-01-31T14:05:09.123+0100", &test::WidenLatin1)));
}

}  // namespace
}  // namespace kx
