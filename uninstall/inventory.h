// What the driver family has left on this machine, as a three-level tree of
// singly linked lists: driver packages in the driver store, under each the
// family's installed printer drivers, under each driver the queues that use it.
//
// The family is recognised by two file names only: "vlm6v6.inf" in a package's
// driver-store path and "vlm6drv6.dll" in a driver's driver path (both compared
// with regard to case). New nodes go to the head of their list, so every list
// holds the reverse of the order of discovery. Nodes are never freed.
#pragma once

#include <cstdint>

#include "common/text.h"
#include "platform/win.h"

constexpr size_t kStatusTextCapacity = 256;
constexpr size_t kInfNameCapacity = 50;
constexpr size_t kStorePathCapacity = 1024;
constexpr size_t kVersionTextCapacity = 50;

constexpr wchar_t kFamilyInfName[] = L"vlm6v6.inf";
constexpr wchar_t kFamilyDriverDll[] = L"vlm6drv6.dll";

struct PrinterQueueNode {
  PRINTER_INFO_2W* queue_info;  // the entry in PrinterInfoArray itself
  DWORD removed;                // result of the last deletion attempt
  WideText<kStatusTextCapacity> status;
  PrinterQueueNode* next;
};

struct PrinterDriverNode {
  // The node's own copy of the record (its strings point into
  // DriverInfoArray); in a package-less node the array entry itself. Absent
  // when the copy could not be allocated: then the node is not counted.
  DRIVER_INFO_8W* driver_info;
  PrinterQueueNode* queues;
  int32_t queue_count;  // queues not yet removed
  DWORD removed;        // result of the last deletion attempt
  WideText<kStatusTextCapacity> status;
  PrinterDriverNode* next;
};

struct DriverPackageNode {
  WideText<kInfNameCapacity> inf_name;      // text after the store path's last backslash
  WideText<kStorePathCapacity> store_path;  // empty in a package-less node
  WideText<kVersionTextCapacity> version;   // the INF's DriverVer
  PrinterDriverNode* drivers;
  int32_t driver_count;  // drivers with information, not yet removed
  DWORD removed;         // 1 once deleted from the driver store
  WideText<kStatusTextCapacity> status;
  DriverPackageNode* next;
};

extern DriverPackageNode* PackageList;
// The spooler's enumeration buffers that the nodes point into; they live as
// long as the process.
extern BYTE* DriverInfoArray;
extern BYTE* PrinterInfoArray;

// The spooler's environment name for a native processor architecture, or null
// for an architecture the driver is not built for.
const wchar_t* SpoolerEnvironmentName(WORD architecture);

// One package node per family package that the spooler records for the native
// architecture.
void ScanDriverPackages();
// Attaches each installed family driver to every package node; a driver that
// finds none gets a package-less node of its own.
void ScanPrinterDrivers();
// Attaches each local queue to every driver node of its driver's name.
void ScanPrintQueues();

// Puts a zero-filled copy of the template at the head of PackageList; drops it
// silently when the allocation fails.
void AddPackageNode(const DriverPackageNode& pattern);
// Returns the number of package nodes the driver was attached to with its
// information.
int AttachDriverToPackages(DRIVER_INFO_8W* entry);
void AttachQueueToDrivers(PRINTER_INFO_2W* entry);
