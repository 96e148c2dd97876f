#include "common/storage_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/appdata_sandbox.h"
#include "support/test_files.h"

namespace kx {
namespace {

using test::AppDataSandbox;
using test::IsFile;
using test::IsFolder;
using test::ListTree;
using Listing = std::vector<std::wstring>;

TEST(StoragePathsTest, EachFolderIsCreatedOnlyWhenAskedFor) {
  AppDataSandbox sandbox;
  const std::wstring root = sandbox.storageRoot();
  // An Orvan folder of other products is used as it is.
  std::filesystem::create_directories(sandbox.roaming() + L"\\Orvan\\Other");

  EXPECT_EQ(root, StoragePaths::Root());
  EXPECT_EQ((Listing{L"Orvan", L"Orvan\\KXLogs", L"Orvan\\Other"}), ListTree(sandbox.roaming()));

  EXPECT_EQ(root + L"\\dumps", StoragePaths::DumpFolder());
  EXPECT_EQ(Listing{L"dumps"}, ListTree(root));

  EXPECT_EQ(root + L"\\crashlogs", StoragePaths::CrashLogFolder());
  EXPECT_EQ(root + L"\\ingest", StoragePaths::IngestFolder());
  EXPECT_EQ((Listing{L"crashlogs", L"dumps", L"ingest"}), ListTree(root));

  // The log folder is named, never made: logging is turned on by whoever creates it.
  EXPECT_EQ(root + L"\\windowsclient", StoragePaths::LogFolder());
  EXPECT_FALSE(IsFolder(root + L"\\windowsclient"));
}

TEST(StoragePathsTest, UnavailableRoamingFolderMakesEveryPathEmpty) {
  AppDataSandbox sandbox;
  // A plain file where the roaming folder should be: the shell cannot create or use it.
  sandbox.PointAt();

  EXPECT_EQ(L"", StoragePaths::Root() + StoragePaths::CrashLogFolder() + StoragePaths::DumpFolder() +
                     StoragePaths::IngestFolder() + StoragePaths::LogFolder());
  EXPECT_EQ(Listing{L"blocker"}, ListTree(sandbox.roaming()));
}

TEST(StoragePathsTest, RootLongerThanTheClassicPathLimitIsUnavailable) {
  AppDataSandbox sandbox;
  // Fits on its own, but not with "\Orvan\KXLogs" appended.
  std::wstring deep = sandbox.roaming();
  while (deep.size() < 252) deep += L"\\" + std::wstring(std::min<size_t>(40, 252 - deep.size()), L'd');
  deep.resize(252);
  if (deep.back() == L'\\') deep.back() = L'e';
  std::filesystem::create_directories(deep);
  sandbox.PointAt(deep);

  EXPECT_EQ(L"", StoragePaths::Root());
  EXPECT_EQ(L"", StoragePaths::DumpFolder());
  EXPECT_FALSE(IsFolder(deep + L"\\Orvan"));
}

}  // namespace
}  // namespace kx
