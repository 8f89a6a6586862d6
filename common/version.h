// The program's version, in one place: the log's opening line and the version
// resource that file properties and inventory tools read are made from it.
// Plain macros, since the resource compiler reads this file too.
#pragma once

#define PROGRAM_VERSION_MAJOR 1
#define PROGRAM_VERSION_MINOR 1
#define PROGRAM_VERSION_PATCH 0

#define PROGRAM_VERSION_TEXT_OF(a, b, c) #a "." #b "." #c
#define PROGRAM_VERSION_TEXT_EXPANDED(a, b, c) PROGRAM_VERSION_TEXT_OF(a, b, c)
// "1.1.0"
#define PROGRAM_VERSION_TEXT \
  PROGRAM_VERSION_TEXT_EXPANDED(PROGRAM_VERSION_MAJOR, PROGRAM_VERSION_MINOR, PROGRAM_VERSION_PATCH)
