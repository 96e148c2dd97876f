// QuoteCommandWord puts texts such as the client directory into the command lines of the service and the log
// transport: any word, quoted and followed by another, must split back into the same two words.
#include "fuzz_support.h"
#include "common/command_word.h"

namespace {

// The argument rules of CommandLineToArgvW for every word after the program name: blanks and tabs outside
// quotes separate words; 2n backslashes before a quote give n and the quote opens or closes quoting, 2n+1
// give n and a literal quote; other backslashes are literal.
std::vector<std::wstring> SplitArguments(std::wstring_view line) {
  std::vector<std::wstring> words;
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i == line.size()) return words;
    std::wstring word;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != L' ' && line[i] != L'\t'))) {
      std::size_t backslashes = 0;
      while (i < line.size() && line[i] == L'\\') ++backslashes, ++i;
      if (i < line.size() && line[i] == L'"') {
        word.append(backslashes / 2, L'\\');
        if (backslashes % 2 == 1) {
          word.push_back(L'"');
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        word.append(backslashes, L'\\');
        if (i < line.size() && backslashes == 0) word.push_back(line[i++]);
      }
    }
    words.push_back(std::move(word));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring word = kx::fuzz::Utf16Units(kx::fuzz::Bytes(data, size));
  // A command line is a C string: a word with a NUL cannot be passed at all.
  if (word.find(L'\0') != std::wstring::npos) return 0;
  const std::vector<std::wstring> words = SplitArguments(kx::QuoteCommandWord(word) + L" createdump");
  KX_FUZZ_CHECK(words.size() == 2 && words[0] == word && words[1] == L"createdump");
  return 0;
}
