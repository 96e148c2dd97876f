// The storage folders under the roaming folder and the diagnostic logs in them, against the platform's own
// known-folder lookup of a sandboxed roaming folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/diagnostic_log.h"
#include "common/storage_paths.h"
#include "common/win_handles.h"
#include "support/appdata_sandbox.h"
#include "support/test_files.h"

namespace kx {
namespace {

using test::IsFile;
using test::ListTree;
using Listing = std::vector<std::wstring>;

class StorageLogTest : public testing::Test {
 protected:
  void TearDown() override {
    // The streams are process-wide: leave none open on a folder that is about to be removed.
    for (int i = 0; i <= static_cast<int>(LogComponent::IngestProcessor); ++i) {
      ComponentLogStream(static_cast<LogComponent>(i)).Close();
    }
  }
  void MakeLogFolder() { std::filesystem::create_directories(sandbox_.logFolder()); }
  std::wstring LogPath(LogComponent component) const {
    return sandbox_.logFolder() + L"\\" + LogFileName(component);
  }
  std::string LogText(LogComponent component) const {
    return test::ReadFileBytes(LogPath(component)).value_or("<missing>");
  }

  test::AppDataSandbox sandbox_;
};

TEST_F(StorageLogTest, EachFolderIsCreatedOnlyWhenAskedFor) {
  const std::wstring root = sandbox_.storageRoot();
  // An Orvan folder of other products is used as it is.
  std::filesystem::create_directories(sandbox_.roaming() + L"\\Orvan\\Other");
  EXPECT_EQ(root, StoragePaths::Root());
  EXPECT_EQ((Listing{L"Orvan", L"Orvan\\KXLogs", L"Orvan\\Other"}), ListTree(sandbox_.roaming()));
  EXPECT_EQ(root + L"\\dumps", StoragePaths::DumpFolder());
  EXPECT_EQ(Listing{L"dumps"}, ListTree(root));
  EXPECT_EQ(root + L"\\crashlogs", StoragePaths::CrashLogFolder());
  EXPECT_EQ(root + L"\\ingest", StoragePaths::IngestFolder());
  EXPECT_EQ((Listing{L"crashlogs", L"dumps", L"ingest"}), ListTree(root));
  // The log folder is named, never made: logging is turned on by whoever creates it.
  EXPECT_EQ(root + L"\\windowsclient", StoragePaths::LogFolder());
  EXPECT_FALSE(test::IsFolder(root + L"\\windowsclient"));
}

// A plain file where the roaming folder should be, or a roaming folder that fits the classic path limit
// only without "\Orvan\KXLogs": no path, no switch, no log, and nothing made.
TEST_F(StorageLogTest, UnavailableStorageGivesNoPathNoSwitchAndNoLog) {
  std::wstring deep = sandbox_.roaming();
  while (deep.size() < 252) deep += L"\\" + std::wstring(std::min<size_t>(40, 252 - deep.size()), L'd');
  deep.resize(252);
  if (deep.back() == L'\\') deep.back() = L'e';
  std::filesystem::create_directories(deep);
  sandbox_.EnableLogging();
  for (const std::wstring& roaming : {std::wstring(), deep}) {
    SCOPED_TRACE(roaming.size());
    sandbox_.PointAt(roaming);
    EXPECT_EQ(L"", StoragePaths::Root() + StoragePaths::CrashLogFolder() + StoragePaths::DumpFolder() +
                       StoragePaths::IngestFolder() + StoragePaths::LogFolder());
    EXPECT_FALSE(IsLoggingSwitchOn());
    EXPECT_EQ(L"", LogFilePath(L"NamedPipe.txt"));
    LogStream& stream = ComponentLogStream(LogComponent::NamedPipe);
    stream.Open();
    EXPECT_TRUE(stream.failed());
    stream.Close();
  }
  EXPECT_FALSE(test::IsFolder(deep + L"\\Orvan"));
}

// Each line is on disk before the stream is closed, so a run that dies leaves its last step logged; others
// may read and write the open file. Without a log folder the open fails and lines are dropped silently.
TEST_F(StorageLogTest, LinesAreLatin1WithCrLfOnDiskAtOnceAndAFailedOpenRecovers) {
  LogStream& stream = ComponentLogStream(LogComponent::NamedPipe);
  stream.Open();
  EXPECT_TRUE(stream.failed());
  stream.WriteLine("lost");
  stream.Close();
  EXPECT_FALSE(IsFile(LogPath(LogComponent::NamedPipe)));
  MakeLogFolder();
  stream.Open();
  ASSERT_TRUE(stream.is_open() && !stream.failed());
  stream.WriteLine("caf\xE9 \x80\xFF", L" \u00E9\u0100\u4E2D", AnsiText{"ok"});
  stream.WriteLine("two\nlines", LogNumber{42}, LogFlag{true}, LogHandle{0x1A4});
  EXPECT_EQ("caf\xE9 \x80\xFF \xE9??ok\r\ntwo\r\nlines42100000000000001A4\r\n",
            LogText(LogComponent::NamedPipe));
  const UniqueFileHandle other(::CreateFileW(LogPath(LogComponent::NamedPipe).c_str(),
                                             GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(other.valid()) << "error " << ::GetLastError();
}

// The switch is a file or folder in the log folder; a component asks once, at its start.
TEST_F(StorageLogTest, AComponentTakesTheSwitchOnceAndOpensByItsRule) {
  EXPECT_FALSE(IsLoggingSwitchOn());  // no log folder
  MakeLogFolder();
  ComponentLog off(LogComponent::DumpRequestProcessor);
  off.Start();
  off.Line("never written");
  off.Close();
  EXPECT_FALSE(IsFile(LogPath(LogComponent::DumpRequestProcessor)));
  // Opened even with logging off: the file is emptied, and still no line is written.
  test::WriteFileBytes(LogPath(LogComponent::LogTransportProcessor), "old run\r\n");
  ComponentLog always(LogComponent::LogTransportProcessor);
  always.Start(ComponentLog::OpenRule::kOpenAlways);
  always.Line("never written");
  always.Close();
  EXPECT_EQ("", LogText(LogComponent::LogTransportProcessor));

  sandbox_.EnableLogging();
  ComponentLog on(LogComponent::KXLogGenerator);
  on.Start();
  EXPECT_TRUE(on.enabled());
  on.Line("before");
  const std::wstring switchPath = sandbox_.logFolder() + L"\\generatekxlogornot.txt";
  std::filesystem::remove(switchPath);
  on.Line("after the switch was removed");
  on.Close();
  EXPECT_EQ("before\r\nafter the switch was removed\r\n", LogText(LogComponent::KXLogGenerator));
  EXPECT_FALSE(IsLoggingSwitchOn());  // asked afresh
  std::filesystem::create_directory(switchPath);
  EXPECT_TRUE(IsLoggingSwitchOn());
}

}  // namespace
}  // namespace kx
