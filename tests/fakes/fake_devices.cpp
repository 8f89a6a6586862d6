// USB printer interfaces and device nodes of the fake machine.
#include "tests/fakes/fake_machine.h"

void InstallDeviceFakes(OsTable&) {}
