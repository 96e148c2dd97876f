// Tables of kxserver's pure parts: what an upload's headers may say, how the two copies of a report meet,
// how a crash is signed and linked, and the limits a crash storm meets.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "rules/link_rules.h"
#include "rules/rate_limit.h"
#include "rules/retention.h"
#include "rules/signature.h"
#include "wire/exchange_bodies.h"
#include "wire/report_reader.h"
#include "wire/upload_names.h"
#include "web/html.h"
#include "web/secrets.h"

namespace kx::server {
namespace {

constexpr char kGuid[] = "0f8fad5b-d9cb-469f-a165-70867728950e";
constexpr char kOtherGuid[] = "1f8fad5b-d9cb-469f-a165-70867728950e";
constexpr char kStack[] = "0 AppX.exe+0x331C 0x00007FF60000331C\r\n1 ntdll.dll+0x10 0x0000000000000010\r\n";

// A report as createdump stores it: CR LF lines, no line end after the last.
std::string Report(const std::string& stackText, const std::string& session = "s1") {
  return std::string("<?xml version=\"1.0\"?>\r\n<!DOCTYPE OrvanCrashReport SYSTEM \"OrvanKestrix.dtd\">\r\n") +
         "<crashreport serviceVersion=\"12\" applicationName=\"AppX\" applicationVersion=\"1.0\" build=\"77\">\r\n"
         "<user guid=\"" + kGuid + "\"/>\r\n<crash exception=\"EXCEPTION_ACCESS_VIOLATION\" exceptionCode=\"0xc0000005\">"
         "\r\n<backtrace crashedThread=\"0\">\r\n<thread index=\"0\">\r\n" + stackText +
         "</thread>\r\n</backtrace>\r\n<dumpType>\r\nMini\r\n</dumpType>\r\n"
         "</crash>\r\n<sessionId>\r\n" + session + "\r\n</sessionId>\r\n</crashreport>";
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
  return text;
}

TEST(ServerWireTest, UploadHeadersNameTheFileTheClientSent) {
  const std::string report = std::string("kxWinLog_") + kGuid + "_20261208-1-7_abc.xml.final";
  const std::string dump = std::string("kxWinDump_") + kGuid + "_20261208-1-7_abc.dmp.full.final";
  const std::string attachment = std::string("kxWinLog_") + kGuid + "_20261208-1-7_abc.xml.att1.app_log.final";
  const std::tuple<UploadHeaderLines, UploadHeaderFault, const char*> rows[] = {
      {{report, "report", kGuid, ""}, UploadHeaderFault::kNone, "20261208-1-7"},
      {{dump, "dump", "0F8FAD5B-D9CB-469F-A165-70867728950E", ""}, UploadHeaderFault::kNone, "20261208-1-7"},
      {{attachment, "attachment", kGuid, report}, UploadHeaderFault::kNone, "20261208-1-7"},
      {{"notes%20%C3%A9.txt.final", "other", kGuid, ""}, UploadHeaderFault::kNone, ""},
      {{report, "report", "0f8fad5b", ""}, UploadHeaderFault::kBadGuid, ""},
      {{report, "report", kOtherGuid, ""}, UploadHeaderFault::kGuidMismatch, ""},
      {{report, "dump", kGuid, ""}, UploadHeaderFault::kKindMismatch, ""},
      {{attachment, "attachment", kGuid, Replaced(report, "-7_", "-8_")}, UploadHeaderFault::kReportMismatch, ""},
      {{"..%2Fkx.final", "other", kGuid, ""}, UploadHeaderFault::kBadFileName, ""},
      {{"a%00b.final", "other", kGuid, ""}, UploadHeaderFault::kBadFileName, ""},
      {{"a%4.final", "other", kGuid, ""}, UploadHeaderFault::kBadFileName, ""},
      {{Replaced(report, ".final", ""), "report", kGuid, ""}, UploadHeaderFault::kBadFileName, ""},
      {{std::string("kxWinLog_") + kGuid + "__abc.xml.final", "report", kGuid, ""}, UploadHeaderFault::kBadFileName, ""},
  };
  for (const auto& [lines, fault, crashId] : rows) {
    SCOPED_TRACE(lines.fileName + " " + lines.kind + " " + lines.guid);
    const UploadCheck check = CheckUploadHeaders(lines);
    EXPECT_EQ(fault, check.fault) << UploadHeaderFaultText(check.fault);
    if (fault != UploadHeaderFault::kNone) continue;
    EXPECT_EQ(crashId, check.identity.crashId);
    EXPECT_EQ(kGuid, check.identity.guid);
  }
  EXPECT_TRUE(CheckUploadHeaders({dump, "dump", kGuid, ""}).identity.fullDump);
  EXPECT_EQ("notes \xC3\xA9.txt.final", CheckUploadHeaders({"notes%20%C3%A9.txt.final", "other", kGuid, ""}).identity.fileName);
}

// The solution exchange sends the stored report with LF lines; sendlog uploads it cut at its end tag, with
// CR LF lines and, when the dump was asked for, a dumpAttached element. Each form is the same crash.
TEST(ServerWireTest, BothCopiesOfAReportAreOneCrash) {
  const std::string stored = Report(kStack);
  const std::string sent = Replaced(stored, "\r\n", "\n");
  const std::string closed = stored.substr(0, stored.find("</crashreport>")) + "\r\n</crashreport>\r\n";
  const std::string attached =
      stored.substr(0, stored.find("</crashreport>")) + "\r\n<dumpAttached>\r\n\r\n</dumpAttached>\r\n</crashreport>\r\n";
  const std::string identity = ReportIdentity(sent);
  for (const std::string& copy : {stored, closed, attached, attached + "trailing junk</crashreport>"}) {
    EXPECT_EQ(identity, ReportIdentity(copy)) << copy;
  }
  // A lone carriage return before a line end: text mode keeps it, sendlog writes CR CR LF there.
  const std::string lone = Replaced(stored, "\r\n</sessionId>", "\r\r\n</sessionId>");
  EXPECT_EQ(ReportIdentity(Replaced(lone, "\r\n", "\n")),
            ReportIdentity(Replaced(Replaced(lone, "\r\n", "\n"), "\n", "\r\n")));
  EXPECT_NE(identity, ReportIdentity(Report(kStack, "s2")));
}

TEST(ServerWireTest, ACrashIsSignedByItsStackText) {
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {Report(kStack), "appx.exe+0x331C", ""},
      {Report("\r\n0 My App.exe+0x10 0x0000000000000010\r\n"), "my app.exe+0x10", ""},  // a blank in the module's name
      // System modules and frames in none are passed over for the application's frame.
      {Report("0 ntdll.dll+0x5 0x5\n1 ?? 0x0000000000000010\n2 AppX.exe+0x2A 0x2A\n"), "appx.exe+0x2A", ""},
      {Report("0 ?? 0x0000000000000010"), "(unknown)+0x10", ""},
      {Report("0 AppX.exe+0xZZ 0x1\nnoise\n"), "(no frames)", ""},
      {Report(""), "(no frames)", ""},
      {Replaced(Report("0 AppX.exe+0x1 0x1"), kGuid, "not-a-guid"), "", "no well-formed installation GUID"},
      {"<crashreport>", "", "not well-formed XML"},
      {"<other/>", "", "no crashreport element"},
  };
  for (const auto& [document, signature, problem] : rows) {
    SCOPED_TRACE(document.substr(0, 300));
    const ReportFacts facts = ReadReport(document);
    EXPECT_EQ(0u, facts.problem.find(problem)) << facts.problem;
    if (!facts.readable()) continue;
    EXPECT_EQ(signature, CrashSignature(facts));
    EXPECT_FALSE(IsNamedSignature(signature));
    EXPECT_EQ("AppX", facts.product);
    EXPECT_EQ("Mini", facts.dumpType);
  }
}

TEST(ServerRulesTest, TheBestRuleGivesTheHelpLink) {
  std::vector<LinkRule> rules;
  for (const auto& [rule, url] : std::initializer_list<std::pair<const char*, const char*>>{
           {"module:appx.EXE", "https://h/module"}, {"prefix:AppX.exe+0x3", "https://h/short"},
           {"prefix:AppX.exe+0x33", "https://h/long"}, {"AppX.exe+0x331C", "https://h/exact"}}) {
    rules.push_back(*MakeLinkRule(rule, url));
  }
  const std::pair<const char*, const char*> rows[] = {
      {"AppX.exe+0x331C", "https://h/exact"}, {"AppX.exe+0x3310", "https://h/long"},
      {"AppX.exe+0x3000", "https://h/short"}, {"AppX.exe+0x10", "https://h/module"},
      {"appx.exe!Crash", "https://h/module"}, {"Other.dll+0x331C", nullptr},
      {"(unknown)+0x10", nullptr},            {"(no frames)", nullptr}};
  for (const auto& [signature, url] : rows) {
    const LinkRule* chosen = ChooseLink(rules, signature);
    EXPECT_EQ(url ? std::string(url) : "", chosen ? chosen->url : "") << signature;
  }
  // The rule for any signature answers only what no other rule does.
  rules.insert(rules.begin(), *MakeLinkRule("any", "https://h/any"));
  for (const auto& [signature, url] : rows) {
    const LinkRule* chosen = ChooseLink(rules, signature);
    EXPECT_EQ(url ? url : "https://h/any", chosen ? chosen->url : "") << signature;
  }
  // The client's front end opens only such links.
  EXPECT_FALSE(MakeLinkRule("AppX.exe+0x1", "https://h/a b"));
  EXPECT_FALSE(MakeLinkRule("AppX.exe+0x1", "file:///etc/passwd"));
  EXPECT_FALSE(MakeLinkRule("prefix:", "https://h/"));
}

// The client reads the answer without escapes and ends an object at any "}": what cannot travel plain is
// left out rather than sent garbled.
TEST(ServerWireTest, PreferenceAnswersHoldOnlyWhatTheClientReadsBack) {
  const auto asked = ReadPreferenceRequest(
      "[{\"product\": \"appx\",\"version\" : \"1.0\",\"build\" : \"77\",\"preferences\" : \"0_1_100\"},"
      "{\"product\": \"caf\\u00e9\",\"version\" : \"1\",\"build\" : \"2\",\"preferences\" : \"0_1_100\"}]");
  ASSERT_TRUE(asked);
  ASSERT_EQ(2u, asked->size());
  EXPECT_EQ("caf\xC3\xA9", (*asked)[1].product);
  std::vector<BuildPreference> answer = *asked;
  for (BuildPreference& build : answer) build.value = "1_1_100";
  answer.push_back({"a}b", "1", "2", "1"});
  answer.push_back({"appx", "1.0", "78", "1_x"});
  EXPECT_EQ("[{\"build\":\"77\",\"preferences\":\"1_1_100\",\"product\":\"appx\",\"version\":\"1.0\"}]",
            UpdatedPreferencesValue(answer));
  EXPECT_EQ(0u, ReadPreferenceRequest("")->size());
  for (const char* bad : {"{}", "[1]", "[{\"product\": \"a\"}]", "[{"}) EXPECT_FALSE(ReadPreferenceRequest(bad)) << bad;
  EXPECT_TRUE(ReadEventDocument("{\"events\":[{\"project\":\"p\",\"data\":{\"event.type\":\"error\"}}]}"));
  for (const char* bad : {"{\"events\":[]}", "{\"events\":[{\"project\":\"p\"}]}", "[]"})
    EXPECT_FALSE(ReadEventDocument(bad)) << bad;
}

TEST(ServerRulesTest, RateLimitsAnswerWhenToComeBack) {
  RateLimiter limiter({60, 0});  // a minute's worth at once, then one a second
  for (int i = 0; i < 60; ++i) ASSERT_EQ(0, limiter.Admit(kGuid, 1000)) << i;
  EXPECT_EQ(1, limiter.Admit(kGuid, 1000));
  EXPECT_EQ(0, limiter.Admit(kOtherGuid, 1000));  // another installation has its own
  EXPECT_EQ(0, limiter.Admit(kGuid, 2000));
  RateLimiter overall({0, 2});
  EXPECT_EQ(0, overall.Admit(kGuid, 0));
  EXPECT_EQ(0, overall.Admit(kOtherGuid, 0));
  EXPECT_EQ(1, overall.AdmitOverall(0));
}

TEST(ServerRulesTest, RetentionRemovesTheOldestDumpsFirst) {
  const std::vector<StoredFile> files = {{1, 100, 10, false}, {2, 100, 50, true}, {3, 900, 50, true},
                                         {4, 900, 10, false}, {5, 950, 50, true}};
  const std::tuple<RetentionLimits, std::vector<std::int64_t>> rows[] = {
      {{500, 0}, {1, 2}},        // by age alone
      {{0, 120}, {2}},           // by size: the oldest dump suffices
      {{0, 20}, {2, 3, 5}},      // every dump before any other file
      {{0, 15}, {2, 3, 5, 1}},
      {{0, 170}, {}},
  };
  for (const auto& [limits, removed] : rows) {
    EXPECT_EQ(removed, PlanRetention(files, 170, limits).removed) << limits.cutoff << " " << limits.maxBytes;
  }
}

// What a hostile report or a crafted link could make of a page: markup, a script link, a login that leads to
// another site; and a password that must match only itself.
TEST(ServerPagesTest, OutsideTextStaysTextAndLinksStayHome) {
  web::Html html;
  html << "<td title=\"" << std::string("\"><script>x('1')</script>&") << "\">";
  EXPECT_EQ(html.str(), "<td title=\"&quot;&gt;&lt;script&gt;x(&#39;1&#39;)&lt;/script&gt;&amp;\">");
  const std::tuple<const char*, const char*, const char*> rows[] = {
      // text, as a help link, as the page after the login
      {"https://help.example/a?b=1&c", "https://help.example/a?b=1&c", "/"},
      {"HTTP://help.example/", "HTTP://help.example/", "/"},
      {"javascript:alert(1)", "", "/"},
      {"https://x/\"onmouseover=alert(1)", "", "/"},
      {"https://x/a b", "", "/"},
      {"/groups/4?sort=last", "", "/groups/4?sort=last"},
      {"//evil.example/", "", "/"},
      {"/\\evil.example/", "", "/"},
      {"/a\nSet-Cookie:x", "", "/"},
  };
  for (const auto& [text, link, next] : rows) {
    SCOPED_TRACE(text);
    EXPECT_EQ(web::SafeLink(text), link);
    EXPECT_EQ(web::LocalPath(text), next);
  }
  const auto form = web::ReadForm("link=https%3A%2F%2Fx%2F%3Fa%3D1%26b&name=a+b&name=second&bad=%zz");
  EXPECT_EQ(form.at("link"), "https://x/?a=1&b");
  EXPECT_EQ(form.at("name"), "a b");
  EXPECT_EQ(form.at("bad"), "%zz");
  const std::string stored = web::HashPassword("correct-horse");
  EXPECT_TRUE(web::PasswordMatches("correct-horse", stored));
  EXPECT_FALSE(web::PasswordMatches("correct-horsf", stored));
  EXPECT_NE(stored, web::HashPassword("correct-horse"));  // salted
}

}  // namespace
}  // namespace kx::server
