// Does nothing: its start-to-exit time is what any program pays to run at all.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
