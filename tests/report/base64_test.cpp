#include "report/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kx {
namespace {

// Decodes with a capacity as large as the text, as the crash log generator does.
std::string Decode(const std::string& text, bool* ok = nullptr) {
  std::vector<unsigned char> out(text.size());
  std::size_t count = out.size();
  const bool decoded = DecodeBase64(text, out.data(), count);
  if (ok) *ok = decoded;
  return std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(count));
}

TEST(Base64Test, DecodesFullAndShortFinalGroups) {
  struct Case {
    std::string text;
    std::string bytes;
  } cases[] = {
      {"", ""},
      {"TWFu", "Man"},
      {"TWE=", "Ma"},                // three characters: two bytes
      {"TQ==", "M"},                 // two characters: one byte
      {"TWFuT", "Man"},              // one trailing character: nothing
      {"AAEC/f7/", std::string("\x00\x01\x02\xFD\xFE\xFF", 6)},
      {"+/+/", "\xFB\xFF\xBF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    bool ok = false;
    EXPECT_EQ(c.bytes, Decode(c.text, &ok));
    EXPECT_TRUE(ok);
  }
}

TEST(Base64Test, SkipsPaddingBlanksAndLineBreaksAnywhere) {
  std::string bytes;
  for (int i = 0; i < 200; ++i) bytes.push_back(static_cast<char>(i * 37));
  // The same 200 bytes, encoded once plainly and once wrapped at 76 columns with CR LF and padding.
  const std::string plain = [&] {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
      std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
      if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
      if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
      const size_t characters = i + 2 < bytes.size() ? 4 : i + 1 < bytes.size() ? 3 : 2;
      for (size_t k = 0; k < characters; ++k) text.push_back(kAlphabet[(group >> (18 - 6 * k)) & 63]);
    }
    return text;
  }();
  std::string wrapped;
  for (size_t i = 0; i < plain.size(); i += 76) wrapped += plain.substr(i, 76) + "\r\n";
  wrapped += "== \t";
  EXPECT_EQ(bytes, Decode(plain));
  EXPECT_EQ(bytes, Decode(wrapped));
  EXPECT_EQ("Man", Decode("T W\nF u"));
}

TEST(Base64Test, ZeroByteAtAGroupBoundaryEndsTheText) {
  EXPECT_EQ("Man", Decode(std::string("TWFu\0TWFu", 9)));
  EXPECT_EQ("Man", Decode(std::string("TW\0Fu", 5)));  // inside a group it is skipped like any other byte
}

TEST(Base64Test, FailsWhenTheBytesDoNotFitAndWritesNothingBeyond) {
  unsigned char out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  std::size_t count = 2;
  EXPECT_FALSE(DecodeBase64("TWFu", out, count));
  EXPECT_EQ('M', out[0]);
  EXPECT_EQ('a', out[1]);
  EXPECT_EQ(0xAA, out[2]);

  count = 3;
  EXPECT_TRUE(DecodeBase64("TWFu", out, count));
  EXPECT_EQ(3u, count);
  count = 0;
  EXPECT_TRUE(DecodeBase64("====\r\n", out, count));
  EXPECT_EQ(0u, count);
}

}  // namespace
}  // namespace kx
