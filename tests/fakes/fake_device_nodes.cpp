// Device nodes with friendly names, and their removal, on the fake machine.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/fakes/fake_machine.h"

namespace {

std::wstring Text(const wchar_t* s) { return s != nullptr ? s : L""; }

// The setup classes "PrintQueue" and "Printer".
constexpr GUID kPrintQueueClass = {0x1ed2bbf9, 0x11f0, 0x4084, {0xb2, 0x1f, 0xad, 0x83, 0xa8, 0xe6, 0xdc, 0xdc}};
constexpr GUID kPrinterClass = {0x4d36e979, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

BOOL WINAPI FakeSetupDiClassGuidsFromNameW(PCWSTR name, LPGUID guids, DWORD capacity, PDWORD required) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::SetupDiClassGuidsFromNameW, Text(name))) return FALSE;
  const DWORD count = _wcsicmp(Text(name).c_str(), L"PrintQueue") == 0 ? 1 : 0;
  if (required != nullptr) *required = count;
  if (count > capacity) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (count > 0) guids[0] = kPrintQueueClass;
  return TRUE;
}

HDEVINFO WINAPI FakeSetupDiGetClassDevsExW(const GUID* guid, PCWSTR, HWND, DWORD flags, HDEVINFO,
                                           PCWSTR machine_name, PVOID) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::SetupDiGetClassDevsExW, std::to_wstring(flags))) return INVALID_HANDLE_VALUE;
  if (machine_name != nullptr || (flags & DIGCF_DEVICEINTERFACE)) {
    ADD_FAILURE() << "the fake lists device nodes of the local machine only";
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // SetupDiGetClassDevsEx: with DIGCF_ALLCLASSES every setup class is
  // listed, whatever ClassGuid says ("To return devices only for a specific
  // device setup class, do not set DIGCF_ALLCLASSES").
  const bool queue_class = guid != nullptr && IsEqualGUID(*guid, kPrintQueueClass);
  std::vector<std::wstring> listed;
  for (const FakeDeviceNode& node : m.devices.nodes) {
    if (!(flags & DIGCF_ALLCLASSES) && !(queue_class && node.print_queue)) continue;
    if ((flags & DIGCF_PRESENT) && !node.present) continue;
    listed.push_back(node.instance_id);
  }
  HDEVINFO set = m.OpenHandle("devinfo");
  m.devices.node_sets[set] = listed;
  return set;
}

const std::vector<std::wstring>* NodeSet(FakeMachine& m, HDEVINFO set) {
  auto it = m.devices.node_sets.find(set);
  if (it == m.devices.node_sets.end() || !m.IsOpen(set)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &it->second;
}

// The set element a device-information record names (DevInst is its index + 1).
const std::wstring* Element(FakeMachine& m, HDEVINFO set, PSP_DEVINFO_DATA data) {
  const std::vector<std::wstring>* listed = NodeSet(m, set);
  if (listed == nullptr) return nullptr;
  if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA) || data->DevInst == 0 ||
      data->DevInst > listed->size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return &(*listed)[data->DevInst - 1];
}

FakeDeviceNode* Node(FakeMachine& m, const std::wstring& instance_id) {
  for (FakeDeviceNode& node : m.devices.nodes) {
    if (node.instance_id == instance_id) return &node;
  }
  return nullptr;
}

BOOL WINAPI FakeSetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::SetupDiEnumDeviceInfo, std::to_wstring(index))) return FALSE;
  const std::vector<std::wstring>* listed = NodeSet(m, set);
  if (listed == nullptr) return FALSE;
  if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (index >= listed->size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  const FakeDeviceNode* node = Node(m, (*listed)[index]);
  data->ClassGuid = node == nullptr || node->print_queue ? kPrintQueueClass : kPrinterClass;
  data->DevInst = index + 1;
  return TRUE;
}

BOOL WINAPI FakeSetupDiGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                                  PDWORD type, PBYTE buffer, DWORD size, PDWORD required) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::SetupDiGetDeviceRegistryPropertyW, std::to_wstring(property))) return FALSE;
  const std::wstring* id = Element(m, set, data);
  if (id == nullptr) return FALSE;
  const FakeDeviceNode* node = Node(m, *id);
  if (node == nullptr) {
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
  }
  if (property != SPDRP_FRIENDLYNAME || node->friendly_name.empty()) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  const DWORD need = static_cast<DWORD>((node->friendly_name.size() + 1) * sizeof(wchar_t));
  if (required != nullptr) *required = need;
  if (type != nullptr) *type = REG_SZ;
  if (buffer == nullptr || size < need) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::copy_n(reinterpret_cast<const BYTE*>(node->friendly_name.c_str()), need, buffer);
  return TRUE;
}

BOOL WINAPI FakeSetupDiRemoveDevice(HDEVINFO set, PSP_DEVINFO_DATA data) {
  FakeMachine& m = Fake();
  const std::wstring* id = Element(m, set, data);
  if (m.Enter(Seam::SetupDiRemoveDevice, id != nullptr ? *id : L"")) return FALSE;
  if (id == nullptr) return FALSE;
  auto& nodes = m.devices.nodes;
  auto node = std::find_if(nodes.begin(), nodes.end(),
                           [&](const FakeDeviceNode& n) { return n.instance_id == *id; });
  if (node == nodes.end()) {
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
  }
  // The node leaves the device tree; its element stays in the set.
  m.devices.removed_nodes.push_back(*id);
  nodes.erase(node);
  return TRUE;
}

}  // namespace

void InstallDeviceNodeFakes(OsTable& t) {
  t.SetupDiClassGuidsFromNameW = FakeSetupDiClassGuidsFromNameW;
  t.SetupDiGetClassDevsExW = FakeSetupDiGetClassDevsExW;
  t.SetupDiEnumDeviceInfo = FakeSetupDiEnumDeviceInfo;
  t.SetupDiGetDeviceRegistryPropertyW = FakeSetupDiGetDeviceRegistryPropertyW;
  t.SetupDiRemoveDevice = FakeSetupDiRemoveDevice;
}
