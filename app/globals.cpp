#include "app/globals.h"

HINSTANCE ModuleInstance = nullptr;
WideText<kPathCapacity> InstallDirectory = {};
