// The storage folders under the roaming folder and the diagnostic logs in them, against the platform's own
// known-folder lookup of a sandboxed roaming folder. Where each folder is made, and that logging follows its
// switch, every end-to-end test of the service shows.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "common/diagnostic_log.h"
#include "common/storage_paths.h"
#include "common/win_handles.h"
#include "support/appdata_sandbox.h"
#include "support/test_files.h"

namespace kx {
namespace {

class StorageLogTest : public testing::Test {
 protected:
  // The streams are process-wide: leave none open on a folder that is about to be removed.
  void TearDown() override { stream_.Close(); }

  LogStream& stream_ = ComponentLogStream(LogComponent::NamedPipe);
  test::AppDataSandbox sandbox_;
};

// A plain file where the roaming folder should be, or a roaming folder that fits the classic path limit
// only without "\Orvan\KXLogs": no path, no switch, no log, and nothing made. A folder named from an empty
// root would sit at the root of the drive.
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
    stream_.Open();
    EXPECT_TRUE(stream_.failed());
    stream_.Close();
  }
  EXPECT_FALSE(test::IsFolder(deep + L"\\Orvan"));
}

// Each line is on disk before the stream is closed, so a run that dies leaves its last step logged; others
// may read and write the open file (copies of one program append to one log).
TEST_F(StorageLogTest, LinesAreOnDiskAtOnceAndTheOpenFileIsShared) {
  const std::wstring path = sandbox_.logFolder() + L"\\" + LogFileName(LogComponent::NamedPipe);
  std::filesystem::create_directories(sandbox_.logFolder());
  stream_.Open();
  ASSERT_TRUE(stream_.is_open() && !stream_.failed());
  stream_.WriteLine("caf\xE9 ", LogNumber{42});
  stream_.WriteLine("two\nlines");
  EXPECT_EQ("caf\xE9 42\r\ntwo\r\nlines\r\n", test::ReadFileBytes(path).value_or("<missing>"));
  const UniqueFileHandle other(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                             nullptr));
  EXPECT_TRUE(other.valid()) << "error " << ::GetLastError();
}

}  // namespace
}  // namespace kx
