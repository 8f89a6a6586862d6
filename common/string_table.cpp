#include "common/string_table.h"

HINSTANCE ModuleInstance = nullptr;
