// Texts from the program's string table, in the language Windows picks from
// the user's interface language, loaded through the program's module handle.
#pragma once

#include "common/text.h"
#include "common/trace.h"
#include "platform/win.h"

// The module instance handle: every string and dialog is loaded through it.
// The entry sets it before anything else.
extern HINSTANCE ModuleInstance;

// The capacity with which the no-printer instruction (IDS_NO_DEVICE) is
// loaded: room for its longest translation (302 characters) and its
// terminator, so that no language's instruction stops mid-sentence.
constexpr size_t kNoDeviceTextCapacity = 512;

// Loads string `id` into `text`. A text longer than the field is cut to its
// capacity - 1 characters, as LoadStringW does, and the cut is traced; an
// absent string leaves the field empty. Returns the number of characters loaded.
template <size_t N>
int LoadText(WideText<N>& text, UINT id) {
  text.clear();
  const int loaded = LoadStringW(ModuleInstance, id, text.data(), static_cast<int>(N));
  if (loaded > 0 && static_cast<size_t>(loaded) + 1 == N) {
    // Capacity 0 asks for the length of the whole text instead of a copy.
    const wchar_t* whole = nullptr;
    const int length = LoadStringW(ModuleInstance, id, reinterpret_cast<LPWSTR>(&whole), 0);
    if (length > loaded) trace("String %u cut to %d of its %d characters", id, loaded, length);
  }
  return loaded;
}
