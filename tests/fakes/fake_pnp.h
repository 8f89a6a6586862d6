// The fake machine's Plug and Play: devices that a driver package can be
// bound to, and what Windows makes for them afterwards.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/win.h"

// A device Plug and Play knows by its hardware ID. Once a package is bound to
// it, Windows installs the driver at once and creates the print queue
// `queue_after_ms` of virtual time later.
struct FakePnpDevice {
  std::wstring hardware_id;
  std::wstring printer_name;  // the queue, and the name of the driver it uses
  std::wstring port;
  DWORD queue_after_ms = 0;
};

struct FakePlugAndPlay {
  std::vector<FakePnpDevice> devices;
  std::vector<std::pair<std::wstring, std::wstring>> bindings;  // (hardware ID, INF path)
  DWORD binding_flags = 0;       // the flags of the last binding
  bool reboot_asked = false;     // whether the last binding took a restart flag to set
  int restart_prompts = 0;  // restarts Windows asked for itself (a null reboot pointer)
  bool wants_restart = false;    // whether bindings tell that a restart is needed
};
