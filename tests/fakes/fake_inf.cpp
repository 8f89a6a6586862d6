// INF information from the driver store, on the fake machine.
#include "tests/fakes/fake_machine.h"

void InstallInfFakes(OsTable&) {}
