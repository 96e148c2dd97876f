// The store's suite, run on both databases: SQLite in a folder of its own, and, when the test is given a
// PostgreSQL cluster (KX_TEST_POSTGRES_CLUSTER, made by tests/server/postgres-cluster), a fresh database of it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

#include "process/processor.h"
#include "store/store.h"

namespace kx::server {
namespace {

constexpr char kGuid[] = "0f8fad5b-d9cb-469f-a165-70867728950e";
constexpr std::int64_t kNow = 1800000000;

std::string Shell(const std::string& command) {
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char piece[512];
    while (std::fgets(piece, sizeof(piece), pipe)) output += piece;
    ::pclose(pipe);
  }
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

class StoreTest : public testing::Test {
 protected:
  void SetUp() override {
    const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    StoreLocation location;
    if (const char* cluster = std::getenv("KX_TEST_POSTGRES_CLUSTER")) {
      location.databaseUrl = Shell(std::string(KX_SOURCE_DIR "/tests/server/postgres-cluster database ") + cluster +
                                 " store_" + name);
      ASSERT_FALSE(location.databaseUrl.empty()) << "no database made in the cluster " << cluster;
    } else {
      folder_ = Shell("mktemp -d /tmp/kxserver-store-XXXXXX");
      location.dataFolder = folder_ + "/data";
    }
    store_ = Store::Open(location);
    ProcessorOptions processing;
    processing.dumpReader = {"/bin/sh", "-c", "echo '{}'", "reader"};
    processor_ = std::make_unique<Processor>(*store_, processing);
  }
  void TearDown() override {
    processor_.reset();
    store_.reset();
    if (!folder_.empty()) Shell("rm -rf " + folder_);
  }

  std::string Document(const std::string& session, const std::string& frame = "AppX.exe+0x331C",
                       const std::string& build = "77") {
    return std::string("<?xml version=\"1.0\"?>\n<crashreport applicationName=\"AppX\" applicationVersion=\"1.0\" "
                       "build=\"") + build + "\">\n<user guid=\"" + kGuid + "\"/>\n<crash exceptionCode=\"0xc0000005\">\n"
           "<backtrace><thread index=\"0\">\n0 " + frame + " 0x1\n</thread></backtrace>\n</crash>\n<sessionId>\n" +
           session + "\n</sessionId>\n</crashreport>";
  }
  SolutionAnswer Solution(const std::string& document) {
    return store_->RecordSolutionReport(ReadReport(document), document, kNow);
  }
  bool Upload(const std::string& kind, const std::string& crashId, const std::string& bytes) {
    UploadIdentity upload{kGuid, kind == "dump" ? "kxWinDump_" + std::string(kGuid) + "_" + crashId + "_abc.dmp.final"
                                                : "kxWinLog_" + std::string(kGuid) + "_" + crashId + "_abc.xml.final",
                          kind, crashId, "", false};
    std::unique_ptr<Spool> spool = store_->NewSpool();
    spool->Add(bytes);
    return store_->SaveUpload(upload, *spool, kNow);
  }
  void Process() {
    while (processor_->RunQueue(kNow) > 0) {
    }
  }
  GroupSummary OnlyGroup() {
    const std::vector<GroupSummary> groups = store_->Groups();
    EXPECT_EQ(1u, groups.size());
    return groups.empty() ? GroupSummary{} : groups[0];
  }

  // The group list's kept counts, row for row, against the same counted afresh from the crashes.
  void ExpectCountsAgree() {
    const auto lines = [&](const char* query) {
      std::vector<std::string> out;
      for (const SqlRow& row : store_->database().Read(query)) out.push_back(TextOf(row[0]));
      return out;
    };
    EXPECT_EQ(lines("SELECT g.id || ' ' || COUNT(c.id) || ' ' || COUNT(DISTINCT c.guid) || ' ' || "
                    "COALESCE(MAX(c.first_seen), 0) FROM crash_groups g LEFT JOIN crashes c ON c.group_id = g.id "
                    "GROUP BY g.id ORDER BY g.id"),
              lines("SELECT id || ' ' || crashes || ' ' || installations || ' ' || last_seen FROM crash_groups "
                    "ORDER BY id"));
    EXPECT_EQ(lines("SELECT group_id || ' ' || product || ' ' || version || ' ' || build || ' ' || COUNT(*) || ' ' || "
                    "MAX(first_seen) FROM crashes WHERE group_id IS NOT NULL GROUP BY group_id, product, version, "
                    "build ORDER BY 1"),
              lines("SELECT group_id || ' ' || product || ' ' || version || ' ' || build || ' ' || crashes || ' ' || "
                    "last_seen FROM group_builds ORDER BY 1"));
    EXPECT_EQ(lines("SELECT group_id || ' ' || (first_seen / 86400) || ' ' || COUNT(*) FROM crashes WHERE group_id "
                    "IS NOT NULL GROUP BY group_id, first_seen / 86400 ORDER BY 1"),
              lines("SELECT group_id || ' ' || day || ' ' || crashes FROM group_days ORDER BY 1"));
  }

  std::string folder_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<Processor> processor_;
};

// A crash's report arrives at the solution exchange and as an upload, in either order, maybe twice.
TEST_F(StoreTest, ACrashCountsOnceHoweverItsReportArrives) {
  Solution(Document("a"));
  Upload("report", "1-a", Document("a") + "\r\n<dumpAttached>\r\n\r\n</dumpAttached>\r\n</crashreport>\r\n");
  Process();
  Upload("report", "1-b", Document("b"));
  Process();
  Solution(Document("b"));
  Solution(Document("b"));
  EXPECT_FALSE(Upload("report", "1-b", Document("b")));
  Solution(Document("c"));
  const GroupSummary group = OnlyGroup();
  EXPECT_EQ("appx.exe+0x331C", group.signature);
  EXPECT_EQ(3, group.crashes);
  EXPECT_EQ(1, group.installations);
  EXPECT_EQ(std::vector<std::string>{"AppX 1.0 77"}, group.builds);
  // Three later builds: the list, filtered or not, shows the 3 latest to crash and counts the rest.
  for (const auto& [build, at] : std::map<std::string, std::int64_t>{{"78", 3}, {"79", 1}, {"80", 2}}) {
    const std::string document = Document(build, "AppX.exe+0x331C", build);
    store_->RecordSolutionReport(ReadReport(document), document, kNow + at);
  }
  for (const GroupFilter& filter : {GroupFilter{}, GroupFilter{"AppX", "", "", ""}}) {
    const std::vector<GroupListRow> list = store_->GroupList(filter, kNow);
    ASSERT_EQ(1u, list.size()) << filter.product;
    EXPECT_EQ((std::vector<std::string>{"AppX 1.0 78", "AppX 1.0 80", "AppX 1.0 79"}), list[0].group.builds);
    EXPECT_EQ(1, list[0].group.otherBuilds) << filter.product;
  }
  EXPECT_EQ(4u, store_->Group(group.id)->group.builds.size());
}

TEST_F(StoreTest, DumpsAreAskedForWhileTheGroupHasFewerThanKOfTheBuild) {
  store_->SetSetting("dumps_per_group", "2");
  EXPECT_TRUE(Solution(Document("a")).attachDump);
  EXPECT_TRUE(Solution(Document("b")).attachDump);
  EXPECT_FALSE(Solution(Document("c")).attachDump);
  EXPECT_TRUE(Solution(Document("a")).attachDump);  // asked before: asked again
  EXPECT_TRUE(Solution(Document("d", "AppX.exe+0x331C", "78")).attachDump);
  // The dump of the report that came first ties to it by the crash identifier of both names.
  Upload("dump", "1-a", "MDMP");
  Upload("report", "1-a", Document("a"));
  Process();
  EXPECT_EQ(1, OnlyGroup().dumps);
  EXPECT_FALSE(Solution(Document("a")).attachDump);  // its dump is here
  // Dumps no exchange of this server asked for count too, whichever of report and dump came first.
  Upload("dump", "1-e", "MDMP");
  Upload("report", "1-e", Document("e", "AppX.exe+0x331C", "79"));
  Upload("report", "1-h", Document("h", "AppX.exe+0x331C", "79"));
  Process();
  Upload("dump", "1-h", "MDMP");
  Process();
  store_->SetSetting("dumps_per_group", "3");
  EXPECT_TRUE(Solution(Document("f", "AppX.exe+0x331C", "79")).attachDump);
  EXPECT_FALSE(Solution(Document("g", "AppX.exe+0x331C", "79")).attachDump);
}

// A dump whose frame symbols named gives its build's crashes the named group, those to come too; another
// build's same offset may be another function and stays apart.
TEST_F(StoreTest, ANamedDumpNamesItsBuildsGroup) {
  ProcessorOptions naming;
  naming.dumpReader = {"/bin/sh", "-c", "echo '{\"signature\": {\"rules\": 1, \"text\": \"appx.exe!Crash\"}}'", "r"};
  processor_ = std::make_unique<Processor>(*store_, naming);
  store_->SetLink(*MakeLinkRule("appx.exe!Crash", "https://h/crash"));
  Solution(Document("a"));
  Solution(Document("b", "AppX.exe+0x331C", "78"));
  Upload("report", "1-c", Document("c"));
  Process();
  Upload("dump", "1-c", "MDMP");
  Process();
  EXPECT_EQ("https://h/crash", Solution(Document("d")).link);
  std::map<std::string, std::int64_t> crashes;
  for (const GroupSummary& group : store_->Groups()) crashes[group.signature] = group.crashes;
  EXPECT_EQ((std::map<std::string, std::int64_t>{{"appx.exe!Crash", 3}, {"appx.exe+0x331C", 1}}), crashes);
  ExpectCountsAgree();
}

// Another instance takes crashes of the signature while a dump renames its group: none may stay behind in
// the unnamed group or point at a group that is gone. Many builds, so that intake meets each rename.
TEST_F(StoreTest, CrashesTakenDuringARenameJoinTheNamedGroup) {
  ProcessorOptions naming;
  naming.dumpReader = {"/bin/sh", "-c", "echo '{\"signature\": {\"rules\": 1, \"text\": \"appx.exe!Crash\"}}'", "r"};
  processor_ = std::make_unique<Processor>(*store_, naming);
  constexpr int kBuilds = 100;
  std::atomic<bool> namingDone{false};
  std::thread intake([&] {
    for (int i = 0; !namingDone; ++i)
      Solution(Document("s" + std::to_string(i), "AppX.exe+0x331C", std::to_string(i % kBuilds)));
  });
  for (int build = 0; build < kBuilds; ++build) {
    const std::string crash = "1-d" + std::to_string(build);
    Upload("report", crash, Document("d" + std::to_string(build), "AppX.exe+0x331C", std::to_string(build)));
    Upload("dump", crash, "MDMP" + std::to_string(build));
    Process();
  }
  namingDone = true;
  intake.join();
  for (const GroupSummary& group : store_->Groups()) EXPECT_EQ("appx.exe!Crash", group.signature) << group.crashes;
  EXPECT_EQ(0, IntOf(store_->database().Read("SELECT COUNT(*) FROM crashes c WHERE NOT EXISTS (SELECT 1 FROM "
                                             "crash_groups g WHERE g.id = c.group_id)").at(0)[0]));
  ExpectCountsAgree();
}

TEST_F(StoreTest, HelpLinksAndBuildPreferencesAreAnsweredAsSet) {
  store_->SetLink(*MakeLinkRule("module:appx.exe", "https://help.example/appx"));
  EXPECT_EQ("https://help.example/appx", Solution(Document("a")).link);
  EXPECT_EQ("", Solution(Document("b", "Other.dll+0x1")).link);
  store_->SetPreference({"AppX", "1.0", "77", "1_1_100"});
  const std::vector<BuildPreference> answer =
      store_->PreferencesFor({{"appx", "1.0", "77", "0_1_100"}, {"appx", "1.0", "78", "0_1_100"}});
  ASSERT_EQ(1u, answer.size());
  EXPECT_EQ("appx", answer[0].product);
  EXPECT_EQ("1_1_100", answer[0].value);
  EXPECT_TRUE(store_->PreferencesFor({{"appx", "1.0", "77", "1_1_100"}}).empty());
}

TEST_F(StoreTest, AFileIsStoredOnceThoughSentAtOnceFromManyThreads) {
  std::atomic<int> stored{0};
  std::vector<std::thread> senders;
  for (int i = 0; i < 8; ++i) senders.emplace_back([&] { stored += Upload("dump", "1-a", "MDMP same") ? 1 : 0; });
  for (std::thread& sender : senders) sender.join();
  EXPECT_EQ(1, stored.load());
  EXPECT_EQ(1u, store_->Uploads().size());
  const CheckReport check = store_->Check(kNow + 1000000000);
  EXPECT_TRUE(check.problems.empty()) << check.problems[0];
}

// Kept and marked, never dropped: a report that is no XML, at the exchange and as an upload.
TEST_F(StoreTest, AnUnreadableReportIsKeptAndMarked) {
  EXPECT_FALSE(Solution("not XML").attachDump);
  Upload("report", "1-x", "<crashreport>");
  Process();
  EXPECT_EQ("unreadable", store_->Uploads().at(0).state);
  EXPECT_EQ(2, IntOf(store_->database().Read("SELECT COUNT(*) FROM crashes WHERE state = 'unreadable'").at(0)[0]));
  EXPECT_TRUE(store_->Groups().empty());
}

TEST_F(StoreTest, RetentionKeepsEachGroupsFirstAndLatestDump) {
  for (const char* crash : {"a", "b", "c"}) {
    Upload("report", std::string("1-") + crash, Document(crash));
    Upload("dump", std::string("1-") + crash, std::string(1000, 'd'));
  }
  Process();
  EXPECT_EQ(3, OnlyGroup().dumps);
  EXPECT_EQ(4, store_->ApplyRetention({kNow + 1, 0}));  // the reports and the middle dump
  EXPECT_EQ(2, OnlyGroup().dumps);
  ExpectCountsAgree();
  std::vector<std::string> kept;
  for (const UploadSummary& upload : store_->Uploads()) kept.push_back(upload.name.substr(47, 3));
  EXPECT_EQ((std::vector<std::string>{"1-a", "1-c"}), kept);
  EXPECT_TRUE(store_->Check(kNow + 1000000000).problems.empty());
}

}  // namespace
}  // namespace kx::server
