// Process-wide values that the entry sets once and the rest of the tool reads.
#pragma once

#include "common/text.h"
#include "platform/win.h"

constexpr size_t kPathCapacity = 260;

// The module instance handle: every string and dialog is loaded through it.
extern HINSTANCE ModuleInstance;

// The folder the tool runs from (ending in a backslash), or the folder given
// after "-u", verbatim. The driver package and unins000.exe are found in it.
extern WideText<kPathCapacity> InstallDirectory;
