// The service control manager of the fake machine.
#include "tests/fakes/fake_machine.h"

void InstallServiceFakes(OsTable&) {}
