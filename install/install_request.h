// One printer to install, and whether its print queue exists.
#pragma once

#include <cstdint>

#include "common/text.h"
#include "platform/win.h"

struct PrinterInstallRequest {
  WideText<260> driver_name;   // "Vellumor VL-K20"
  WideText<260> printer_name;  // the same text: the queue's name
  WideText<260> port_name;     // USB001
  WideText<260> hardware_id;   // usbprint\vellumor vl-k20d5a5
  uint8_t flags;               // the model row's flags
};

// 1 when a printer of that name can be opened with full access, else 0.
int PrinterExists(const wchar_t* printer_name);

// The error of the first step of an install that failed: the cause that the
// user and the exit code are shown, whatever later calls leave behind.
struct FirstError {
  bool failed = false;
  DWORD code = ERROR_SUCCESS;  // may stay 0: a failure that left no code
  void Note(DWORD error) {
    if (failed) return;
    failed = true;
    code = error;
  }
  // Notes the thread's last error when the step failed; returns the step's outcome.
  bool Step(bool succeeded) {
    if (!succeeded) Note(GetLastError());
    return succeeded;
  }
};
