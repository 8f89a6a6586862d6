#include "platform/os.h"

namespace {

OsTable UnboundTable() {
  OsTable table = {};
#define OS_LINK(name) table.name = &::name;
  OS_LINKED_FUNCTIONS(OS_LINK)
#undef OS_LINK
#define OS_UNBOUND(X, dll, name, ordinal, need) table.name = OsUnbound<decltype(table.name)>::Call;
  OS_LOADED_FUNCTIONS(OS_UNBOUND, _)
#undef OS_UNBOUND
  return table;
}

template <typename F>
void Assign(F& slot, FARPROC address) {
  // Through void(*)(): a function address of another type, as GetProcAddress gives it.
  slot = reinterpret_cast<F>(reinterpret_cast<void (*)()>(address));
}

// Binds every loaded slot of `table` with the given loader and resolver.
template <typename Load, typename Resolve, typename Missing>
OsBinding BindTable(OsTable& table, Load load, Resolve resolve, Missing missing_optional) {
  HMODULE modules[kOsDllCount] = {};
  bool tried[kOsDllCount] = {};
  OsBinding result;
  auto bind = [&](auto& slot, OsDll dll, const char* name, WORD ordinal, OsNeed need) {
    if (result.error != ERROR_SUCCESS) return;
    if (!tried[dll]) {
      tried[dll] = true;
      // Kept loaded for the process's life: the slots point into them.
      modules[dll] = load(kOsDllNames[dll]);
    }
    FARPROC address = nullptr;
    if (modules[dll] != nullptr) address = resolve(modules[dll], ordinal != 0 ? MAKEINTRESOURCEA(ordinal) : name);
    if (address != nullptr) {
      Assign(slot, address);
      return;
    }
    slot = OsUnbound<std::remove_reference_t<decltype(slot)>>::Call;
    if (need == kOptional) {
      if (missing_optional != nullptr) missing_optional(name, kOsDllNames[dll]);
      return;
    }
    result.error = modules[dll] == nullptr ? ERROR_MOD_NOT_FOUND : ERROR_PROC_NOT_FOUND;
    result.function = name;
    result.dll = kOsDllNames[dll];
  };
#define OS_BIND(X, dll, name, ordinal, need) bind(table.name, dll, #name, ordinal, need);
  OS_LOADED_FUNCTIONS(OS_BIND, _)
#undef OS_BIND
  return result;
}

}  // namespace

OsTable os = UnboundTable();

const OsTable& RealOs() {
  static const OsTable real = [] {
    OsTable table = UnboundTable();
    BindTable(
        table, [](const wchar_t* dll) { return ::LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32); },
        [](HMODULE module, const char* name) { return ::GetProcAddress(module, name); },
        static_cast<void (*)(const char*, const wchar_t*)>(nullptr));
    return table;
  }();
  return real;
}

OsBinding BindOs(void (*missing_optional)(const char* function, const wchar_t* dll)) {
  // DLLs that system DLLs load later are not looked for beside the program either.
  os.SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return BindTable(
      os, [](const wchar_t* dll) { return os.LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32); },
      [](HMODULE module, const char* name) { return os.GetProcAddress(module, name); }, missing_optional);
}
