// Stands in for the configuration DLL of the test driver package. The spooler
// asks it for a queue's default device mode when the queue is added, so it
// answers that: a plain portrait A4 mode carrying the printer's name. It has
// no property sheets.
#include <windows.h>

#include <cwchar>

namespace {

// The printer interface's request for a device mode, as the spooler passes it.
struct DocumentPropertyHeader {
  WORD cbSize;
  WORD Reserved;
  HANDLE hPrinter;
  LPWSTR pszPrinterName;
  PDEVMODEW pdmIn;
  PDEVMODEW pdmOut;
  DWORD cbOut;
  DWORD fMode;
};

void FillDefault(DEVMODEW& mode, const wchar_t* printer) {
  mode = {};
  if (printer != nullptr) wcsncpy(mode.dmDeviceName, printer, CCHDEVICENAME - 1);
  mode.dmSpecVersion = DM_SPECVERSION;
  mode.dmSize = sizeof(DEVMODEW);
  mode.dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES;
  mode.dmOrientation = DMORIENT_PORTRAIT;
  mode.dmPaperSize = DMPAPER_A4;
  mode.dmCopies = 1;
}

}  // namespace

extern "C" __declspec(dllexport) LONG WINAPI DrvDocumentPropertySheets(void* sheets, LPARAM parameter) {
  auto* header = reinterpret_cast<DocumentPropertyHeader*>(parameter);
  if (sheets != nullptr || header == nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return -1;
  }
  // Without an output buffer the caller asks for the size.
  if (header->fMode == 0 || header->pdmOut == nullptr) return sizeof(DEVMODEW);
  if (header->cbOut < sizeof(DEVMODEW)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return -1;
  }
  if (header->pdmIn != nullptr && header->pdmIn->dmSize == sizeof(DEVMODEW) && (header->fMode & DM_IN_BUFFER)) {
    *header->pdmOut = *header->pdmIn;
    header->pdmOut->dmDriverExtra = 0;
  } else {
    FillDefault(*header->pdmOut, header->pszPrinterName);
  }
  return IDOK;
}

extern "C" __declspec(dllexport) DWORD WINAPI DrvDeviceCapabilities(HANDLE, LPWSTR, WORD capability, void*,
                                                                   PDEVMODEW) {
  switch (capability) {
    case DC_SIZE: return sizeof(DEVMODEW);
    case DC_EXTRA: return 0;
    case DC_VERSION: return DM_SPECVERSION;
    case DC_FIELDS: return DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES;
    default: return static_cast<DWORD>(GDI_ERROR);
  }
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
