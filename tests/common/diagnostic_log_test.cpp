#include "common/diagnostic_log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/win_handles.h"
#include "support/appdata_sandbox.h"
#include "support/test_files.h"

namespace kx {
namespace {

using test::AppDataSandbox;
using test::ReadFileBytes;

class DiagnosticLogTest : public ::testing::Test {
 protected:
  void MakeLogFolder() { std::filesystem::create_directories(sandbox_.logFolder()); }
  std::wstring LogPath(LogComponent component) const {
    return sandbox_.logFolder() + L"\\" + LogFileName(component);
  }
  std::string LogText(LogComponent component) const {
    return ReadFileBytes(LogPath(component)).value_or("<missing>");
  }
  void TearDown() override {
    // The streams are process-wide: leave none open on a folder that is about to be removed.
    for (int i = 0; i <= static_cast<int>(LogComponent::IngestProcessor); ++i) {
      ComponentLogStream(static_cast<LogComponent>(i)).Close();
    }
  }

  AppDataSandbox sandbox_;
};

TEST_F(DiagnosticLogTest, SwitchIsTheExistenceOfAFileOrFolderInTheLogFolder) {
  EXPECT_FALSE(IsLoggingSwitchOn());  // no log folder
  MakeLogFolder();
  EXPECT_FALSE(IsLoggingSwitchOn());

  const std::wstring switchPath = sandbox_.logFolder() + L"\\generatekxlogornot.txt";
  test::WriteFileBytes(switchPath, "");
  EXPECT_TRUE(IsLoggingSwitchOn());

  std::filesystem::remove(switchPath);
  EXPECT_FALSE(IsLoggingSwitchOn());  // asked afresh every time
  std::filesystem::create_directory(switchPath);
  EXPECT_TRUE(IsLoggingSwitchOn());
}

TEST_F(DiagnosticLogTest, LinesAreStoredAsLatin1TextWithCrLfAndFlushedAtOnce) {
  MakeLogFolder();
  LogStream& stream = ComponentLogStream(LogComponent::NamedPipe);
  stream.Open();
  ASSERT_TRUE(stream.is_open());
  stream.WriteLine("caf\xE9 \x80\xFF", L" \u00E9\u0100\u4E2D", AnsiText{"ok"});
  stream.WriteLine("two\nlines", LogNumber{42}, LogFlag{true}, LogHandle{0x1A4});

  // Each line is on disk before the stream is closed, so a run that dies leaves its last step logged.
  const std::string expected =
      "caf\xE9 \x80\xFF \xE9?"
      "?ok\r\ntwo\r\nlines42100000000000001A4\r\n";
  EXPECT_EQ(expected, LogText(LogComponent::NamedPipe));
  stream.Close();
  EXPECT_FALSE(stream.is_open());
  EXPECT_EQ(expected, LogText(LogComponent::NamedPipe));
}

// That every open empties the file is the component test's below.
TEST_F(DiagnosticLogTest, OthersMayReadAndWriteAnOpenLog) {
  MakeLogFolder();
  LogStream& stream = ComponentLogStream(LogComponent::DumpRequestProcessor);
  stream.Open();
  const UniqueFileHandle other(::CreateFileW(LogPath(LogComponent::DumpRequestProcessor).c_str(),
                                             GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(other.valid()) << "error " << ::GetLastError();
}

TEST_F(DiagnosticLogTest, FailedOpenDropsWritesSilentlyAndALaterOpenRecoversUnlessStorageIsGone) {
  LogStream& stream = ComponentLogStream(LogComponent::IngestProcessor);
  stream.Open();  // the log folder does not exist
  EXPECT_TRUE(stream.failed());
  stream.WriteLine("lost");
  stream.Close();
  EXPECT_FALSE(test::IsFile(LogPath(LogComponent::IngestProcessor)));

  MakeLogFolder();
  stream.Open();
  EXPECT_FALSE(stream.failed());
  stream.WriteLine("kept");
  EXPECT_EQ("kept\r\n", LogText(LogComponent::IngestProcessor));

  // Unavailable storage: no switch, no path, no file.
  sandbox_.EnableLogging();
  sandbox_.PointAt();
  EXPECT_FALSE(IsLoggingSwitchOn());
  EXPECT_EQ(L"", LogFilePath(L"NamedPipe.txt"));
  stream.Open();
  EXPECT_TRUE(stream.failed());
}

TEST_F(DiagnosticLogTest, ComponentTakesTheSwitchOnceAndOpensByItsRule) {
  MakeLogFolder();
  {
    ComponentLog off(LogComponent::DumpRequestProcessor);
    off.Start();
    off.Line("never written");
    off.Close();
    EXPECT_FALSE(test::IsFile(LogPath(LogComponent::DumpRequestProcessor)));

    // Opened even with logging off: the file is emptied, and still no line is written.
    test::WriteFileBytes(LogPath(LogComponent::LogTransportProcessor), "old run\r\n");
    ComponentLog always(LogComponent::LogTransportProcessor);
    always.Start(ComponentLog::OpenRule::kOpenAlways);
    always.Line("never written");
    always.Close();
    EXPECT_EQ("", LogText(LogComponent::LogTransportProcessor));
  }

  sandbox_.EnableLogging();
  ComponentLog on(LogComponent::KXLogGenerator);
  on.Start();
  EXPECT_TRUE(on.enabled());
  on.Line("before");
  std::filesystem::remove(sandbox_.logFolder() + L"\\generatekxlogornot.txt");
  on.Line("after the switch was removed");  // the answer was taken at the start of the run
  on.Close();
  EXPECT_EQ("before\r\nafter the switch was removed\r\n", LogText(LogComponent::KXLogGenerator));
}

}  // namespace
}  // namespace kx
