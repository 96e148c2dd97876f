#include "report/module_list.h"

#include <gtest/gtest.h>

namespace kx {
namespace {

TEST(ModuleListTest, FilterModulePathKeepsTheFileNameAndTheFirstListedWord) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"C:\\Program Files\\ORVAN\\Bin\\KxCore.dll", L"orvan\\KxCore.dll"},
      {L"C:\\Windows\\System32\\kernel32.dll", L"kernel32.dll"},
      {L"C:\\Glint\\OrVaN\\x.dll", L"orvan\\x.dll"},  // list order, not position in the path
      {L"C:\\Users\\glinter\\AppData\\a.dll", L"glint\\a.dll"},
      {L"\\\\srv\\tumbleClatter\\u.dll", L"tumbleclatter\\u.dll"},
      {L"C:\\apps\\TessaLinex.dll", L"tessaline\\TessaLinex.dll"},
      {L"/lib/x86_64-linux-gnu/libc.so.6", L"/lib/x86_64-linux-gnu/libc.so.6"},
      {L"C:\\dir\\", L""},
  };
  for (const auto& [path, reduced] : cases) {
    SCOPED_TRACE(testing::Message() << path);
    EXPECT_EQ(reduced, FilterModulePath(path));
  }
  EXPECT_EQ("c", LastPathComponent("a::b::c", "::"));
  EXPECT_EQ("whole", LastPathComponent("whole", ""));
}

}  // namespace
}  // namespace kx
