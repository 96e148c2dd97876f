#include "report/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
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

// The whole alphabet in order, and the 48 bytes it stands for.
const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const std::string kAlphabetBytes(
    "\x00\x10\x83\x10\x51\x87\x20\x92\x8B\x30\xD3\x8F\x41\x14\x93\x51\x55\x97\x61\x96\x9B\x71\xD7\x9F"
    "\x82\x18\xA3\x92\x59\xA7\xA2\x9A\xAB\xB2\xDB\xAF\xC3\x1C\xB3\xD3\x5D\xB7\xE3\x9E\xBB\xF3\xDF\xBF",
    48);

TEST(Base64Test, DecodesTheAlphabetAndShortFinalGroupsSkippingAnyOtherByte) {
  std::string wrapped;
  for (size_t i = 0; i < kAlphabet.size(); i += 10) wrapped += kAlphabet.substr(i, 10) + "\r\n";
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"====\r\n", ""},
      {kAlphabet, kAlphabetBytes},
      {"= " + wrapped + "== \t", kAlphabetBytes},
      {"TWE=", "Ma"},    // three characters: two bytes
      {"TQ==", "M"},     // two characters: one byte
      {"TWFuT", "Man"},  // one trailing character: nothing
      {"TW=E", "Ma"},
      {std::string("TWFu\0TWFu", 9), "Man"},  // a zero byte where a group would begin ends the text
      {std::string("TW\0Fu", 5), "Man"},      // inside a group it is skipped like any other byte
  };
  for (const auto& [text, bytes] : cases) {
    SCOPED_TRACE(text);
    bool ok = false;
    EXPECT_EQ(bytes, Decode(text, &ok));
    EXPECT_TRUE(ok);
  }
}

// That nothing is written past the capacity, whatever the text, is the fuzz target's check.

}  // namespace
}  // namespace kx
