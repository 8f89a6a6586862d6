#include "platform/os.h"

namespace {
const OsTable kReal = {
#define OS_REAL(name) &::name,
    OS_FUNCTIONS(OS_REAL)
#undef OS_REAL
};
}  // namespace

OsTable os = kReal;

const OsTable& RealOs() { return kReal; }
