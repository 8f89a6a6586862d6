// What the driver family has left on this machine, as a three-level tree of
// singly linked lists: driver packages in the driver store, under each the
// family's installed printer drivers, under each driver the queues that use it.
//
// The family is recognised by two file names only: the package INF in a
// package's driver-store path and the driver DLL in a driver's driver path (both compared
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

// An INF's DriverVer entry ("mm/dd/yyyy,w.x.y.z"); empty where anything fails.
void ReadInfVersion(const wchar_t* inf_path, WideText<kVersionTextCapacity>& version);

extern DriverPackageNode* PackageList;
// The spooler's enumeration buffers that the nodes point into; they live as
// long as the process.
extern DRIVER_INFO_8W* DriverInfoArray;
extern PRINTER_INFO_2W* PrinterInfoArray;

// Set when the spooler or the registry refused a list or a record the
// inventory needed (other than "nothing there"), or its worker could not be
// started: the inventory is then not known to be whole, and nothing may be
// taken as removed on its word.
extern bool InventoryReadFailed;

// Lets go of the whole inventory (lists, arrays and its failure) without
// releasing anything, so that the next scans start from nothing. The blocks
// stay with whoever holds them: the process, or the fake machine of a test.
void ForgetInventory();

// Whether the spooler keeps records of driver packages for the machine's
// architecture: Windows with a driver store does; Wine has none.
bool DriverStoreAvailable();

// Each scan answers whether it read all it needed (an empty list counts as
// read); each adds what it could read either way.
// One package node per family package that the spooler records for the native
// architecture.
bool ScanDriverPackages();
// Attaches each installed family driver to every package node; a driver that
// finds none gets a package-less node of its own.
bool ScanPrinterDrivers();
// Attaches each local queue to every driver node of its driver's name.
bool ScanPrintQueues();
// The three scans in their order; sets InventoryReadFailed when one of them
// could not read all it needed.
bool TakeInventory();

// Puts a zero-filled copy of the template at the head of PackageList; drops it
// silently when the allocation fails.
void AddPackageNode(const DriverPackageNode& pattern);
// Returns the number of package nodes the driver was attached to with its
// information.
int AttachDriverToPackages(DRIVER_INFO_8W* entry);
void AttachQueueToDrivers(PRINTER_INFO_2W* entry);
