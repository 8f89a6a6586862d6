#include "common/run_options.h"

bool SilentRun = false;
bool RestartNeeded = false;
DWORD SearchTimeoutMs = 0;
