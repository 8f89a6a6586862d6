// Reading a program's own string table, in a chosen language, so that a
// scenario can compare what a dialog shows with what the program carries.
#include "uidriver.h"

namespace {

// The string `id` of the table in language `language`, straight from the
// resource block (16 counted strings per block), or false when absent.
bool StringInLanguage(HMODULE module, UINT id, WORD language, std::wstring* text) {
  HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(6) /* RT_STRING */,
                                MAKEINTRESOURCEW(id / 16 + 1), language);
  if (found == nullptr) return false;
  const auto* entry = static_cast<const WCHAR*>(LockResource(LoadResource(module, found)));
  const auto* end = entry + SizeofResource(module, found) / sizeof(WCHAR);
  if (entry == nullptr) return false;
  for (UINT i = 0; i < id % 16; ++i) {
    if (entry >= end) return false;
    entry += 1 + *entry;
  }
  if (entry >= end || entry + 1 + *entry > end) return false;
  text->assign(entry + 1, *entry);
  return true;
}

int String(const Invocation& call) {
  long id = 0;
  long language = -1;
  if (call.words.size() < 2 || !ParseNumber(call.words[1], &id) ||
      (call.words.size() > 2 && !ParseNumber(call.words[2], &language))) {
    Print(L"usage: string FILE ID [LANGID]");
    return 2;
  }
  HMODULE module = LoadLibraryExW(call.words[0].c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) {
    Print(L"cannot read " + call.words[0]);
    return 1;
  }
  std::wstring text;
  bool found = false;
  if (language >= 0) {
    found = StringInLanguage(module, static_cast<UINT>(id), static_cast<WORD>(language), &text);
  } else {
    const wchar_t* chars = nullptr;
    const int length = LoadStringW(module, static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&chars), 0);
    found = length > 0;
    if (found) text.assign(chars, static_cast<size_t>(length));
  }
  FreeLibrary(module);
  if (!found) {
    Print(L"no string " + call.words[1]);
    return 1;
  }
  Print(Quoted(text));
  return 0;
}

const CommandRegistration kString(
    L"string", "FILE ID [LANGID]  string ID of a program's table, in that language (or the user's)",
    String);

}  // namespace
