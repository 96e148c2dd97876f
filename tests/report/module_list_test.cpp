#include "report/module_list.h"

#include <gtest/gtest.h>

#include <string>

namespace kx {
namespace {

TEST(ModuleListTest, FilterModulePathKeepsTheFileNameAndTheFirstListedWord) {
  struct Case {
    const wchar_t* path;
    const wchar_t* reduced;
  };
  const Case cases[] = {
      {L"C:\\Program Files\\ORVAN\\Bin\\KxCore.dll", L"orvan\\KxCore.dll"},
      {L"C:\\Windows\\System32\\kernel32.dll", L"kernel32.dll"},
      {L"C:\\Glint\\OrVaN\\x.dll", L"orvan\\x.dll"},  // list order, not position in the path
      {L"C:\\Users\\glinter\\AppData\\a.dll", L"glint\\a.dll"},
      {L"D:\\TessaLine\\t.exe", L"tessaline\\t.exe"},
      {L"\\\\srv\\tumbleClatter\\u.dll", L"tumbleclatter\\u.dll"},
      {L"C:\\apps\\glintx.dll", L"glint\\glintx.dll"},  // the file name counts too
      {L"noBackslash.dll", L"noBackslash.dll"},
      {L"/lib/x86_64-linux-gnu/libc.so.6", L"/lib/x86_64-linux-gnu/libc.so.6"},
      {L"C:\\dir\\", L""},
      {L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    EXPECT_EQ(c.reduced, FilterModulePath(c.path));
  }
}

TEST(ModuleListTest, LastPathComponent) {
  EXPECT_EQ("c.dll", LastPathComponent("a\\b\\c.dll", "\\"));
  EXPECT_EQ("a/b", LastPathComponent("a/b", "\\"));
  EXPECT_EQ("", LastPathComponent("a\\", "\\"));
  EXPECT_EQ("c", LastPathComponent("a::b::c", "::"));
  EXPECT_EQ("whole", LastPathComponent("whole", ""));
  EXPECT_EQ(L"y", LastPathComponent(L"x\\y", L"\\"));
}

TEST(ModuleListTest, BinaryImageLine) {
  EXPECT_EQ(
      L"<binaryImage start=\"0x00007FFB12340000\" end=\"0x00007FFB12351000\" path=\"orvan\\kx.dll\"/>\n",
      FormatBinaryImageLine(0x7FFB12340000u, 0x11000u, L"C:\\Orvan\\kx.dll"));
  EXPECT_EQ(
      L"<binaryImage start=\"0x0000000000400000\" end=\"0x0000000000400000\" path=\"a&#38;b&#60;c.dll\"/>\n",
      FormatBinaryImageLine(0x400000u, 0, L"C:\\x\\a&b<c.dll"));
  EXPECT_EQ(L"<binaryImage start=\"0xFFFFFFFFFFFFF000\" end=\"0x00000000000000FF\" path=\"\"/>\n",
            FormatBinaryImageLine(0xFFFFFFFFFFFFF000u, 0x10FFu, L""));
}

}  // namespace
}  // namespace kx
