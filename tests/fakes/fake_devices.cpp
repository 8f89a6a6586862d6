// USB printer interfaces of the fake machine: the interface class lists them,
// and their values live in the fake registry, where Windows keeps them.
#include <gtest/gtest.h>

#include "discovery/usb_printers.h"
#include "tests/fakes/fake_machine.h"

namespace {

constexpr wchar_t kInterfaceClassText[] = L"{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

std::vector<std::wstring>* InterfaceSet(FakeMachine& m, HDEVINFO set) {
  auto it = m.devices.interface_sets.find(set);
  return it == m.devices.interface_sets.end() ? nullptr : &it->second;
}

HDEVINFO Failed(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

HDEVINFO WINAPI FakeSetupDiGetClassDevsW(const GUID* class_guid, PCWSTR enumerator, HWND,
                                         DWORD flags) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::SetupDiGetClassDevsW, enumerator != nullptr ? enumerator : L"")) {
    return INVALID_HANDLE_VALUE;
  }
  if (class_guid == nullptr && !(flags & DIGCF_ALLCLASSES)) return Failed(ERROR_INVALID_PARAMETER);
  if (!(flags & DIGCF_DEVICEINTERFACE)) {
    ADD_FAILURE() << "the fake machine lists only device interfaces through SetupDiGetClassDevsW";
    return Failed(ERROR_INVALID_PARAMETER);
  }
  auto set = static_cast<HDEVINFO>(m.OpenHandle("devinfo"));
  // Every fake USB printer interface is present; other classes have none.
  std::vector<std::wstring>& held = m.devices.interface_sets[set];
  if (class_guid != nullptr && IsEqualGUID(*class_guid, kUsbPrintInterfaceClass)) {
    held = m.devices.usb_printers;
  }
  SetLastError(ERROR_SUCCESS);
  return set;
}

BOOL WINAPI FakeSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device,
                                            const GUID* class_guid, DWORD index,
                                            PSP_DEVICE_INTERFACE_DATA data) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::SetupDiEnumDeviceInterfaces, std::to_wstring(index))) return FALSE;
  std::vector<std::wstring>* held = InterfaceSet(m, set);
  if (held == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (device != nullptr) {
    ADD_FAILURE() << "the fake machine enumerates interfaces of a whole set only";
  }
  if (class_guid == nullptr || data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!IsEqualGUID(*class_guid, kUsbPrintInterfaceClass) || index >= held->size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->InterfaceClassGuid = *class_guid;
  data->Flags = SPINT_ACTIVE;
  data->Reserved = index + 1;  // which interface of the set
  return TRUE;
}

BOOL WINAPI FakeSetupDiGetDeviceInterfaceDetailW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                 PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                 DWORD size, PDWORD required,
                                                 PSP_DEVINFO_DATA device) {
  FakeMachine& m = Fake();
  std::vector<std::wstring>* held = InterfaceSet(m, set);
  const size_t which = data != nullptr ? data->Reserved : 0;
  const std::wstring path =
      held != nullptr && which >= 1 && which <= held->size() ? (*held)[which - 1] : L"";
  if (m.Enter(Seam::SetupDiGetDeviceInterfaceDetailW, path)) return FALSE;
  if (held == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || path.empty() ||
      (device != nullptr && device->cbSize != sizeof(SP_DEVINFO_DATA))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD need = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                        (path.size() + 1) * sizeof(wchar_t));
  if (detail == nullptr ? size != 0 : detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (required != nullptr) *required = need;
  if (device != nullptr) {
    device->DevInst = static_cast<DWORD>(which);
  }
  if (size < need) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  path.copy(detail->DevicePath, path.size());
  detail->DevicePath[path.size()] = L'\0';
  return TRUE;
}

BOOL WINAPI FakeSetupDiDestroyDeviceInfoList(HDEVINFO set) {
  FakeMachine& m = Fake();
  m.calls.push_back({Seam::SetupDiDestroyDeviceInfoList, {}});
  if (!m.IsOpen(set)) {
    SetLastError(ERROR_INVALID_HANDLE);
    ADD_FAILURE() << "SetupDiDestroyDeviceInfoList of a set that is not open";
    return FALSE;
  }
  m.devices.interface_sets.erase(set);
  m.devices.node_sets.erase(set);
  m.CloseHandleOf("devinfo", set);
  return TRUE;
}

}  // namespace

std::wstring UsbPrinterDevicePath(const std::wstring& instance, const std::wstring& vendor) {
  return L"\\\\?\\usb#vid_" + vendor + L"&pid_0001#" + instance + L"#" + kInterfaceClassText;
}

std::wstring UsbPrinterParametersKey(const std::wstring& device_path) {
  const std::wstring rest = device_path.size() > 4 ? device_path.substr(4) : L"";
  return std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\") +
         kInterfaceClassText + L"\\##?#" + rest + L"\\#\\Device Parameters";
}

std::wstring AddUsbPrinter(FakeMachine& m, const std::wstring& description, DWORD port,
                           const std::wstring& serial) {
  const std::wstring path =
      UsbPrinterDevicePath(L"5&1a2b3c&0&" + std::to_wstring(m.devices.usb_printers.size() + 1));
  m.devices.usb_printers.push_back(path);
  const std::wstring key = UsbPrinterParametersKey(path);
  m.registry.SetString(key, L"Port Description", description);
  m.registry.SetDword(key, L"Port Number", port);
  m.registry.SetString(key, L"Serial Number", serial);
  return key;
}

void InstallDeviceFakes(OsTable& t) {
  t.SetupDiGetClassDevsW = FakeSetupDiGetClassDevsW;
  t.SetupDiEnumDeviceInterfaces = FakeSetupDiEnumDeviceInterfaces;
  t.SetupDiGetDeviceInterfaceDetailW = FakeSetupDiGetDeviceInterfaceDetailW;
  t.SetupDiDestroyDeviceInfoList = FakeSetupDiDestroyDeviceInfoList;
}
