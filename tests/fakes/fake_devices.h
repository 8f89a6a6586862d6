// The fake machine's devices: USB printer interfaces and device nodes.
#pragma once

#include <string>
#include <vector>

#include "platform/win.h"

struct FakeDevices {
  int reenumerations = 0;
};
