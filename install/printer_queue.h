// The print queue of an attached printer: the family's queue on the
// printer's port, whatever its name (a person may have renamed it). A
// printer plugged into another socket without a serial number comes back on
// another port; its queue is moved there rather than left on the old one.
#pragma once

#include "common/text.h"
#include "install/install_request.h"
#include "platform/win.h"

using QueueNameText = WideText<260>;

// What the spooler has for one attached printer.
struct PrinterQueue {
  enum class Found {
    kOnPort,   // a queue of a family driver sits on the printer's port: `name`
    kMovable,  // none does; a family queue named like the printer waits on a
               // port that no attached printer uses: `name`, on `port`
    kNone,     // neither
  };
  Found found = Found::kNone;
  QueueNameText name = {};
  QueueNameText port = {};
  // The name a new queue takes: the printer's, or where a queue has that
  // name, the first free "<printer> (Copy n)", as Windows names the queue of
  // a second device of a model; empty when no such name is free.
  QueueNameText new_name = {};
};

// Looks through the spooler's queues for the request's printer. The ports in
// use are those of the attached printers in UsbPrinterList. A queue of
// another driver on the printer's port is traced and left as it is.
PrinterQueue FindPrinterQueue(const PrinterInstallRequest& request);

// Whether a queue of a family driver sits on the request's port; traces
// nothing, for the checks that repeat.
bool QueueOnPort(const PrinterInstallRequest& request);

// Puts the queue `name` onto `port`: its level-2 record is read and written
// back with only the port changed, so that its name, comment, sharing and
// settings stay, and its security descriptor is not touched. ERROR_SUCCESS,
// or the error of the step that failed.
DWORD MoveQueueToPort(const wchar_t* name, const wchar_t* port);
