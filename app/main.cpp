#include "app/entry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR tail, int) {
  return RunProgram(instance, tail);
}
