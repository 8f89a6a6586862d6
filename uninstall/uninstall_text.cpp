#include "uninstall/uninstall_text.h"

#include "app/globals.h"

void LoadUninstallText(UninstallText& text, UINT id) {
  text = {};
  if (LoadStringW(ModuleInstance, id, text.data(), kUninstallTextCapacity) <= 0) text.clear();
}
