#include "app/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include "common/text_convert.h"
#include "common/win_handles.h"

namespace kx {

std::optional<Invocation> ReadInvocation(const wchar_t* commandLine) {
  int wordCount = 0;
  UniqueLocalMem<LPWSTR> words(::CommandLineToArgvW(commandLine, &wordCount));
  if (!words || !IsRecognisedWordCount(wordCount)) return std::nullopt;

  LPWSTR* word = words.get();
  std::optional<std::string> verifyWord;
  if (wordCount == 5) verifyWord = NarrowToCodePage(word[4], CP_THREAD_ACP);
  return MakeInvocation(word[1], NarrowToCodePage(word[2], CP_THREAD_ACP),
                        NarrowToCodePage(word[3], CP_THREAD_ACP), verifyWord ? &*verifyWord : nullptr);
}

}  // namespace kx
