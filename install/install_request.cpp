#include "install/install_request.h"

#include "common/scoped_handle.h"

int PrinterExists(const wchar_t* printer_name) {
  PRINTER_DEFAULTSW defaults = {};
  defaults.DesiredAccess = PRINTER_ALL_ACCESS;
  ScopedPrinter printer;
  if (!os.OpenPrinterW(const_cast<LPWSTR>(printer_name), printer.receive(), &defaults)) return 0;
  return printer ? 1 : 0;
}
