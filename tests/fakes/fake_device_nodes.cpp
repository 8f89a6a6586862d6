// Device nodes with friendly names, and their removal, on the fake machine.
#include "tests/fakes/fake_machine.h"

void InstallDeviceNodeFakes(OsTable&) {}
