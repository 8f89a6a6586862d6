// Device-tree re-enumeration and Plug and Play binding, on the fake machine.
#include "tests/fakes/fake_machine.h"

void InstallPlugAndPlayFakes(OsTable&) {}
