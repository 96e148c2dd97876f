// Locating a report's files by which name exists, against a real (sandboxed) storage folder.
#include "dispatch/report_file_set.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>

#include "support/appdata_sandbox.h"
#include "support/linux_programs.h"
#include "support/test_files.h"

namespace kx {
namespace {

using test::AppDataSandbox;
using test::WriteFileBytes;

constexpr wchar_t kGuid[] = L"0f8fad5b-d9cb-469f-a165-70867728950e";
constexpr wchar_t kId[] = L"4711";
constexpr wchar_t kReport[] = L"kxWinLog_0f8fad5b-d9cb-469f-a165-70867728950e_4711_abc.xml";
constexpr wchar_t kDump[] = L"kxWinDump_0f8fad5b-d9cb-469f-a165-70867728950e_4711_abc";

class ReportFileSetTest : public testing::Test {
 protected:
  std::wstring CrashLog(const std::wstring& suffix) const {
    return sandbox_.storageRoot() + L"\\crashlogs\\" + kReport + suffix;
  }
  std::wstring Dump(const std::wstring& suffix) const {
    return sandbox_.storageRoot() + L"\\dumps\\" + kDump + suffix;
  }
  void Create(std::initializer_list<std::wstring> paths) const {
    for (const std::wstring& path : paths) {
      std::filesystem::create_directories(std::filesystem::path(path).parent_path());
      WriteFileBytes(path, "x");
    }
  }

  AppDataSandbox sandbox_;
};

TEST_F(ReportFileSetTest, TheFirstStateNameWinsAndTheSecondIsTheFallback) {
  // Nothing on disk: the second name, untested.
  EXPECT_EQ(CrashLog(L".solurl.dmpattached"), ReportFileSet::GetCrashLogFilePath(kGuid, kId));
  EXPECT_EQ(Dump(L".dmp.full"), ReportFileSet::GetDumpFilePath(kGuid, kId));
  EXPECT_EQ(Dump(L".dmp.full.final"), ReportFileSet::GetFinalDumpFilePath(kGuid, kId));
  EXPECT_EQ(CrashLog(L".final"), ReportFileSet::GetFinalCrashLogFilePath(kGuid, kId));

  Create({CrashLog(L".solurl.dmpattached"), Dump(L".dmp.full")});
  EXPECT_EQ(CrashLog(L".solurl.dmpattached"), ReportFileSet::GetCrashLogFilePath(kGuid, kId));
  EXPECT_EQ(Dump(L".dmp.full"), ReportFileSet::GetDumpFilePath(kGuid, kId));

  Create({Dump(L".dmp")});
  std::filesystem::create_directories(CrashLog(L".solurl"));  // a folder counts as present
  EXPECT_EQ(CrashLog(L".solurl"), ReportFileSet::GetCrashLogFilePath(kGuid, kId));
  EXPECT_EQ(Dump(L".dmp"), ReportFileSet::GetDumpFilePath(kGuid, kId));
  EXPECT_EQ(Dump(L".dmp.final"), ReportFileSet::GetFinalDumpFilePath(kGuid, kId));
}

TEST_F(ReportFileSetTest, UnavailableStorageGivesEmptyPaths) {
  sandbox_.PointAt();
  EXPECT_EQ(L"", ReportFileSet::GetCrashLogFilePath(kGuid, kId));
  EXPECT_EQ(L"", ReportFileSet::GetFinalCrashLogFilePath(kGuid, kId));
  EXPECT_EQ(L"", ReportFileSet::GetDumpFilePath(kGuid, kId));
  EXPECT_EQ(L"", ReportFileSet::GetFinalDumpFilePath(kGuid, kId));
}

TEST_F(ReportFileSetTest, AnExistenceTestThatFailsLeavesTheStateUnknown) {
  // A symbolic link that points at itself: the system cannot resolve the name, which is neither "present"
  // nor "not found".
  Create({Dump(L".dmp.full")});
  ASSERT_TRUE(test::MakeSelfLink(CrashLog(L".solurl")));
  ASSERT_TRUE(test::MakeSelfLink(Dump(L".dmp")));
  EXPECT_EQ(std::nullopt, ReportFileSet::GetCrashLogFilePath(kGuid, kId));
  EXPECT_EQ(std::nullopt, ReportFileSet::GetDumpFilePath(kGuid, kId));
  EXPECT_EQ(std::nullopt, ReportFileSet::GetFinalDumpFilePath(kGuid, kId));
}

// Reading a document is WidenTextModeBytes over the file's bytes (the report names test's table).

}  // namespace
}  // namespace kx
