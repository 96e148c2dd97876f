// Helpers for the tests of the JSON documents this program builds: texts in a single-byte code page, and (on
// the host build, where Python runs) a real JSON parser reading a document back.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace kx::test {

// Each byte one character, as the Western single-byte code page widens these texts.
inline std::wstring WidenLatin1(std::string_view narrow) {
  std::wstring wide;
  for (const char c : narrow) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

// Runs `program` (Python source) with sys.argv[1] a file holding `document` and sys.argv[2] a file for its
// output; returns that output, or "<not parsed>" when the program failed (a document json cannot read).
inline std::string RunPythonOn(const std::string& document, const std::string& program) {
  // Named after the running test: test programs run side by side.
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  const std::string base = testing::TempDir() + "kx_" + test->test_suite_name() + "_" + test->name();
  const std::string input = base + ".json";
  const std::string output = base + ".out";
  std::ofstream(input, std::ios::binary) << document;
  std::remove(output.c_str());
  const std::string command = "python3 -c '" + program + "' " + input + " " + output;
  if (std::system(command.c_str()) != 0) return "<not parsed>";
  std::ifstream in(output, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kx::test
