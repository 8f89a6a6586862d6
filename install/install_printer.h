// Making sure one recognised printer has its print queue.
#pragma once

#include "install/install_request.h"

// 0: no queue could be made (GetLastError tells why); 3: the queue existed
// before and nothing was done; any other value: the queue is there.
int InstallPrinter(PrinterInstallRequest* request, const wchar_t* inf_path);
int DoUploadDriverPackage(const wchar_t* inf_path);
void ReenumerateDeviceTree();
int PortExists(const wchar_t* port_name);
