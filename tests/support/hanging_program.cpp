// A program that never ends on its own: stands in for a service that hangs, or for a process to dump.
#include <windows.h>

int wmain() {
  ::Sleep(INFINITE);
  return 0;
}
