#include "common/run_options.h"

bool SilentRun = false;
bool RestartNeeded = false;
DWORD SearchTimeoutMs = 0;
DWORD SpoolerLeftStopped = ERROR_SUCCESS;
bool RescanRefusalTraced = false;
