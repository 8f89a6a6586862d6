// Deleting printers, drivers, monitors and driver-store packages, on the fake machine.
#include "tests/fakes/fake_machine.h"

void InstallSpoolerRemovalFakes(OsTable&) {}
