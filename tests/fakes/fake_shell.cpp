// Shell deletion of folders, and change notification, on the fake machine.
#include "tests/fakes/fake_machine.h"

void InstallShellFakes(OsTable&) {}
