// Device-tree re-enumeration and Plug and Play binding, on the fake machine.
#include <gtest/gtest.h>

#include <cwctype>

#include "tests/fakes/fake_machine.h"

namespace {

constexpr DEVINST kRootNode = 1;

std::wstring Text(const wchar_t* s) { return s != nullptr ? s : L""; }

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

CONFIGRET WINAPI FakeCM_Locate_DevNodeW(PDEVINST node, DEVINSTID_W device_id, ULONG flags) {
  FakeMachine& m = Fake();
  DWORD error = 0;
  if (m.Enter(Seam::CM_Locate_DevNodeW, Text(device_id), &error)) return static_cast<CONFIGRET>(error);
  if (node == nullptr) return CR_INVALID_POINTER;
  if (flags != CM_LOCATE_DEVNODE_NORMAL) {
    ADD_FAILURE() << "the fake machine models CM_Locate_DevNodeW with CM_LOCATE_DEVNODE_NORMAL only";
    return CR_INVALID_FLAG;
  }
  if (device_id != nullptr && device_id[0] != L'\0') return CR_NO_SUCH_DEVNODE;
  *node = kRootNode;
  return CR_SUCCESS;
}

CONFIGRET WINAPI FakeCM_Reenumerate_DevNode(DEVINST node, ULONG) {
  FakeMachine& m = Fake();
  DWORD error = 0;
  if (m.Enter(Seam::CM_Reenumerate_DevNode, std::to_wstring(node), &error)) {
    return static_cast<CONFIGRET>(error);
  }
  if (node != kRootNode) return CR_INVALID_DEVNODE;
  // CM_Reenumerate_DevNode: "Callers of this function must have
  // SeLoadDriverPrivilege." The page names no CONFIGRET for a caller without.
  if (!m.load_driver_privilege_on) return CR_ACCESS_DENIED;
  ++m.devices.reenumerations;
  return CR_SUCCESS;
}

// Binds the package to every device of that hardware ID: the driver is there
// at once, the queue after the device's delay.
BOOL WINAPI FakeUpdateDriverForPlugAndPlayDevicesW(HWND, LPCWSTR hardware_id, LPCWSTR inf_path,
                                                   DWORD flags, PBOOL reboot) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::UpdateDriverForPlugAndPlayDevicesW, Text(hardware_id))) return FALSE;
  m.pnp.binding_flags = flags;
  m.pnp.reboot_asked = reboot != nullptr;
  if (reboot != nullptr) *reboot = m.pnp.wants_restart ? TRUE : FALSE;
  // UpdateDriverForPlugAndPlayDevicesW: "If this parameter is NULL, the
  // function will initiate a system reboot if necessary" - Windows asks then.
  if (reboot == nullptr && m.pnp.wants_restart) ++m.pnp.restart_prompts;
  if (hardware_id == nullptr || inf_path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (GetFileAttributesW(inf_path) == INVALID_FILE_ATTRIBUTES) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  // Driver Store: "A driver package must be staged to the Driver Store
  // before the package can be used to install any devices."
  const std::wstring environment = m.MachineEnvironment();
  const std::wstring store_inf = StageIntoDriverStore(m, inf_path, environment, false);
  DWORDLONG version = 0;
  FILETIME date = {};
  std::wstring given;
  if (FindDriverVer(m, store_inf, given)) ReadFakeDriverVer(given, version, date);
  bool matched = false;
  bool bound = false;
  for (const FakePnpDevice& d : m.pnp.devices) {
    if (Lower(d.hardware_id) != Lower(hardware_id)) continue;
    matched = true;
    // Without INSTALLFLAG_FORCE a driver that ranks no better than the one
    // installed (date first, then version) is not installed; with it, "an
    // older driver" can be "installed over a newer driver".
    if (const FakeDriver* installed = m.spooler.FindDriver(d.printer_name, environment);
        installed != nullptr && (flags & INSTALLFLAG_FORCE) == 0) {
      const int by_date = CompareFileTime(&date, &installed->date);
      if (by_date < 0 || (by_date == 0 && version <= installed->version)) continue;
    }
    bound = true;
    m.pnp.bindings.emplace_back(d.hardware_id, inf_path);
    InstallDriverFromStore(m, store_inf, d.printer_name, environment, true);
    FakePrinter queue;
    queue.name = d.printer_name;
    queue.port = d.port;
    queue.driver = d.printer_name;
    m.spooler.pending_printers.push_back({queue, m.clock_ms + d.queue_after_ms});
  }
  if (!matched) {
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
  }
  // UpdateDriverForPlugAndPlayDevices: ERROR_NO_MORE_ITEMS when the driver
  // "is not a better match than the current driver and the caller did not
  // specify the INSTALLFLAG_FORCE flag".
  if (!bound) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

void InstallPlugAndPlayFakes(OsTable& t) {
  t.CM_Locate_DevNodeW = FakeCM_Locate_DevNodeW;
  t.CM_Reenumerate_DevNode = FakeCM_Reenumerate_DevNode;
  t.UpdateDriverForPlugAndPlayDevicesW = FakeUpdateDriverForPlugAndPlayDevicesW;
}
