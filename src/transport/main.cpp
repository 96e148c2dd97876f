// KXLogTransport.exe: a GUI-subsystem program that never opens a window. Exactly two words after the program
// path: the client directory and the folder whose finished files it uploads; anything else does nothing.
#include <windows.h>

#include <shellapi.h>

#include "common/system_libraries.h"
#include "common/win_handles.h"
#include "transport/log_transport.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Before anything else: the upload's libraries are loaded only when there is something to upload.
  kx::RestrictLibraryLoadsToSystem32();
  try {
    int count = 0;
    const kx::UniqueLocalMem<LPWSTR> words(::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (words && count == 3) kx::RunLogTransport(words.get()[1], words.get()[2]);
  } catch (...) {
    // Whatever happened, the files stay as they are for the next run.
  }
  return 0;
}
