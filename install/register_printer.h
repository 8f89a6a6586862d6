// Registering the language monitor, the printer driver and the print queue
// with the spooler directly, where Plug and Play made no queue.
#pragma once

#include <cstdint>

#include "install/install_request.h"
#include "platform/win.h"

// The build of the driver package: year.month.day.build.
constexpr char DRIVER_BUILD_VERSION[] = "2025.08.22.1";

constexpr wchar_t kLanguageMonitorName[] = L"Vellumor Language Monitor V6";

// Stages the package files, registers monitor and driver where needed, adds
// the queue on the request's port and waits up to 5 s for it. Non-zero when
// the queue was seen, or when files, monitor and driver are in place and the
// spooler took the queue. On failure `error` (and the thread's last error)
// holds the error of the first step that failed.
// With `store_path` (the package's INF in the driver store) the driver is
// installed from the store's verified copy where Windows can; from the
// package's folder otherwise.
int RegisterPrinterManually(const PrinterInstallRequest* request, DWORD* error = nullptr,
                            const wchar_t* store_path = nullptr);

// 1 when AddPrinterDriverW took the driver and the spooler then lists it.
int RegisterPrinterDriver(const PrinterInstallRequest* request);
// Installs the driver from the package whose INF lies at `store_path` in the
// driver store (InstallPrinterDriverFromPackage), for the machine's
// environment; `replace_all` replaces the files the spooler uses whatever
// their time stamps. 1 when Windows installed it; 0 otherwise (also where
// Windows lacks the call), the cause as the thread's last error.
int InstallDriverFromStore(const wchar_t* driver_name, const wchar_t* store_path, bool replace_all);
// Registers an installed driver again with this package's files from the
// printer-driver directory, which replace the ones the spooler uses
// (APD_COPY_ALL_FILES). 1 when the spooler took it.
int RegisterPrinterDriverAgain(const wchar_t* driver_name, bool uses_monitor);
// 1 when the monitor was added or was installed already.
int InstallPrinterLanguageMonitor(const wchar_t* monitor_name, const wchar_t* dll_name);
// 1 when the local spooler lists a driver of exactly that name (case counts).
int IsPrinterDriverListed(const wchar_t* driver_name);

// The build's driver version: the four numbers of the build version, one
// 16-bit word each, year first. The build stops where it differs from the
// shipped INF's DriverVer; a driver is registered with the DriverVer of the
// INF beside the program, this only where that cannot be read.
uint64_t GetDriverVersion();
// Midnight at the start of the build version's day, as a FILETIME.
FILETIME GetDriverDate();
