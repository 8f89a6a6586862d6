// Texts of the uninstaller: string-table texts are loaded into 1024-character
// buffers before they are formatted.
#pragma once

#include "common/text.h"
#include "platform/win.h"

constexpr size_t kUninstallTextCapacity = 1024;
using UninstallText = WideText<kUninstallTextCapacity>;

// Loads a string-table text through the module instance; empty when it is
// missing.
void LoadUninstallText(UninstallText& text, UINT id);

// Loads a text and formats it with the arguments into `destination`.
template <size_t N, typename... A>
void FormatUninstallText(WideText<N>& destination, UINT id, const A&... args) {
  UninstallText format;
  LoadUninstallText(format, id);
  BoundedFormat(destination, format.c_str(), args...);
}
