// Splitting a full path into its pieces, and reading dotted version numbers.
#pragma once

#include "common/text.h"

// Splits "C:\dir\sub\name.ext" into "C:", "\dir\sub\", "name" and ".ext".
// Every piece must fit its field with its terminator; if one does not, all
// four are left empty and the split fails.
bool SplitPathPieces(const wchar_t* path, wchar_t* drive, size_t drive_capacity,
                     wchar_t* directory, size_t directory_capacity, wchar_t* name,
                     size_t name_capacity, wchar_t* extension, size_t extension_capacity);

template <size_t D, size_t R, size_t N, size_t E>
bool SplitPath(const wchar_t* path, WideText<D>& drive, WideText<R>& directory,
               WideText<N>& name, WideText<E>& extension) {
  return SplitPathPieces(path, drive.chars, D, directory.chars, R, name.chars, N,
                         extension.chars, E);
}

// Reads up to four decimal numbers separated by dots ("%d.%d.%d.%d") from a
// narrow string. Returns how many were read; the others are left as they were.
int ScanVersion(const char* text, int* major, int* minor, int* build, int* revision);
