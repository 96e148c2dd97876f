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

TEST(ModuleListTest, BinaryImageLine) {
  EXPECT_EQ(L"<binaryImage start=\"0x00007FFB12340000\" end=\"0x00007FFB12351000\" "
            L"path=\"orvan\\kx&#38;1.dll\"/>\n",
            FormatBinaryImageLine(0x7FFB12340000u, 0x11000u, L"C:\\Orvan\\kx&1.dll"));
  EXPECT_EQ(L"<binaryImage start=\"0x0000000000400000\" end=\"0x0000000000400000\" path=\"a.dll\"/>\n",
            FormatBinaryImageLine(0x400000u, 0, L"a.dll"));
}

}  // namespace
}  // namespace kx
