// Windows protected print mode: where an organisation has turned it on,
// Windows admits only its own print drivers, and nothing of ours is tried.
#pragma once

// Whether the policy is on: its value 1. A value that is missing, of another
// type or 0 means off.
bool ProtectedPrintModeOn();
