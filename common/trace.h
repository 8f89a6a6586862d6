// One-line diagnostics on the debugger output, for support staff watching with
// a debug-output viewer. A line that does not fit is dropped whole, never cut.
#pragma once

#include "common/text.h"

// Capacities of the format (after conversion from the ANSI code page) and of
// the formatted line, terminators included.
constexpr size_t kTraceFormatCapacity = 256;
constexpr size_t kTraceLineCapacity = 768;

void TraceArgs(const char* format, const FormatArg* args, size_t count);

// trace("Found model %ws, %ws %ws", description, manufacturer, model);
template <typename... A>
void trace(const char* format, const A&... args) {
  if constexpr (sizeof...(A) == 0) {
    TraceArgs(format, nullptr, 0);
  } else {
    const FormatArg list[] = {MakeFormatArg(args)...};
    TraceArgs(format, list, sizeof...(A));
  }
}
