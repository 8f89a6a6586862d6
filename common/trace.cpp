#include "common/trace.h"

#include <cstring>

#include "common/log.h"
#include "platform/os.h"

void TraceArgs(const char* format, const FormatArg* args, size_t count) {
  if (format == nullptr) return;
  // The buffers live on the calling thread's stack: each thread has its own,
  // and tracing needs no allocation.
  wchar_t wide_format[kTraceFormatCapacity];
  wchar_t line[kTraceLineCapacity];
  if (strnlen(format, kTraceFormatCapacity) >= kTraceFormatCapacity) return;
  if (MultiByteToWideChar(CP_ACP, 0, format, -1, wide_format, kTraceFormatCapacity) == 0) return;
  const size_t length = FormatArgs(line, kTraceLineCapacity, wide_format, args, count);
  if (length > kTraceLineCapacity - 1) return;
  os.OutputDebugStringW(line);
  os.OutputDebugStringW(L"\n");
  LogLine(line);
}
