// Texts of the uninstaller: string-table texts are loaded into 1024-character
// buffers before they are formatted.
#pragma once

#include "common/string_table.h"
#include "common/text.h"

constexpr size_t kUninstallTextCapacity = 1024;
using UninstallText = WideText<kUninstallTextCapacity>;

// Loads a string-table text and formats it with the arguments into
// `destination`, through a buffer of the calling thread's own.
template <size_t N, typename... A>
void FormatUninstallText(WideText<N>& destination, UINT id, const A&... args) {
  UninstallText format;
  LoadText(format, id);
  destination = {};
  BoundedFormat(destination, format.c_str(), args...);
}
