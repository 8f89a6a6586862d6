// The print spooler of the fake machine.
#include "tests/fakes/fake_machine.h"

void InstallSpoolerFakes(OsTable&) {}
