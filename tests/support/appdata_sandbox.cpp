#include "support/appdata_sandbox.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "support/linux_programs.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx::test {
namespace {

constexpr wchar_t kShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

void SetAppDataValue(const std::wstring& path) {
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"AppData", REG_EXPAND_SZ, path.c_str(),
                              static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))));
}

}  // namespace

AppDataSandbox::AppDataSandbox() {
  static std::atomic<int> counter{0};
  wchar_t temp[MAX_PATH + 1] = L"";
  ::GetTempPathW(MAX_PATH + 1, temp);
  // Wine reuses process ids from run to run: a name whose old folder cannot be removed is passed over, so
  // that every sandbox starts empty.
  std::error_code ignored;
  do {
    base_ = std::wstring(temp) + L"kxtest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++);
    std::filesystem::remove_all(base_, ignored);
  } while (std::filesystem::exists(base_, ignored));
  roaming_ = base_ + L"\\Roaming";
  std::filesystem::create_directories(roaming_);
  std::vector<wchar_t> saved(4096);
  DWORD size = static_cast<DWORD>(saved.size() * sizeof(wchar_t));
  hadSaved_ =
      ::RegGetValueW(HKEY_CURRENT_USER, kShellFolders, L"AppData", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                     nullptr, saved.data(), &size) == ERROR_SUCCESS;
  if (hadSaved_) saved_ = saved.data();
  SetAppDataValue(roaming_);
}

AppDataSandbox::~AppDataSandbox() {
  if (hadSaved_) {
    SetAppDataValue(saved_);
  } else {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"AppData");
  }
  std::error_code failed;
  std::filesystem::remove_all(base_, failed);
  // What Windows calls cannot remove (a test's self-referencing link) goes from the Linux side.
  if (failed) StartLinuxProgram(L"Z:\\bin\\rm", L"-rf " + QuoteWord(UnixPath(base_)));
}

void AppDataSandbox::EnableLogging() const {
  std::filesystem::create_directories(logFolder());
  WriteFileBytes(logFolder() + L"\\generatekxlogornot.txt", "");
}

void AppDataSandbox::PointAt(const std::wstring& path) const {
  if (!path.empty()) return SetAppDataValue(path);
  WriteFileBytes(roaming_ + L"\\blocker", "x");
  SetAppDataValue(roaming_ + L"\\blocker\\Roaming");
}

}  // namespace kx::test
