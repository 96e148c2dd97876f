#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "prefs/installation_guid.h"
#include "prefs/pvb_key.h"

namespace kx {
namespace {

TEST(PreferenceTextTest, PvbKeyJoinsWithSemicolonsAndLowersAsciiOnly) {
  EXPECT_EQ("appx;1.0;77", MakePvbKey("AppX", "1.0", "77"));
  EXPECT_EQ("a;b;c;\xC9;", MakePvbKey("A;B", "C", "\xC9;"));
  // Lower-casing stops at the first zero byte.
  EXPECT_EQ(std::string("a\0B;C;D", 7), MakePvbKey(std::string("A\0B", 3), "C", "D"));
}

TEST(PreferenceTextTest, OnlyThe8_4_4_4_12HexLayoutIsWellFormed) {
  const std::pair<std::wstring, bool> cases[] = {
      {L"0a1b2c3d-00e5-f00f-ab01-0203040506ff", true},
      {L"0A1B2C3D-00E5-F00F-AB01-0203040506FF", true},
      {L"{0a1b2c3d-00e5-f00f-ab01-0203040506ff}", false},
      {L"0a1b2c3d00e5-f00f-ab01-0203040506ff", false},
      {L"0a1b2c3d-00e5-f00f-ab01-0203040506f", false},
      {L"0a1b2c3d-00e5-f00f-ab01-0203040506fff", false},
      {L"0a1b2c3d-00e5-f00f-ab01-0203040506fg", false},
      {L"0a1b2c3d-00e5-f00f-ab0--0203040506ff", false},
      {L"0a1b2c3d-00e5-f00f-ab01-0203040506f\uFF10", false},
      {L"", false},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    EXPECT_EQ(expected, isWellFormedGuid(text));
  }
}

}  // namespace
}  // namespace kx
