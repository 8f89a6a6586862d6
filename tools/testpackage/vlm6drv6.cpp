// Stands in for the driver DLL of the test driver package: a library that
// loads and does nothing.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
