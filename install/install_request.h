// One printer to install, and whether its print queue exists.
#pragma once

#include <cstdint>

#include "common/text.h"

struct PrinterInstallRequest {
  WideText<260> driver_name;   // "Vellumor VL-K20"
  WideText<260> printer_name;  // the same text: the queue's name
  WideText<260> port_name;     // USB001
  WideText<260> hardware_id;   // usbprint\vellumor vl-k20d5a5
  uint8_t flags;               // the model row's flags
};

// 1 when a printer of that name can be opened with full access, else 0.
int PrinterExists(const wchar_t* printer_name);
