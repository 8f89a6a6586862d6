#include "app/entry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  // The whole line: the tail Windows hands over was cut by the rules for a
  // program name, which are not those of its arguments.
  return RunProgram(instance, GetCommandLineW());
}
