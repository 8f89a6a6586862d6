// The fake machine's devices: USB printer interfaces and device nodes.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/win.h"

class FakeMachine;

// A device node of any setup class, as a device-information set lists it.
struct FakeDeviceNode {
  std::wstring instance_id;
  std::wstring friendly_name;  // empty: the node has none
  bool present = true;
  bool print_queue = true;     // of the setup class PrintQueue; otherwise of the class Printer
};

struct FakeDevices {
  int reenumerations = 0;
  // Device paths of the present USB printer interfaces, in the order SetupAPI
  // enumerates them.
  std::vector<std::wstring> usb_printers;
  // Each open interface set: the device paths it held when it was made.
  std::map<HDEVINFO, std::vector<std::wstring>> interface_sets;
  std::vector<FakeDeviceNode> nodes;
  std::vector<std::wstring> removed_nodes;  // instance IDs, in order of removal
  // Device-information sets of device nodes: the instance IDs each one listed.
  std::map<HDEVINFO, std::vector<std::wstring>> node_sets;
};

// The device path Windows gives the USB printer interface of a device with
// this vendor ID and instance: \\?\usb#vid_3f19&pid_0001#<instance>#{28d78fad-...}
std::wstring UsbPrinterDevicePath(const std::wstring& instance, const std::wstring& vendor = L"3f19");
// The interface's "Device Parameters" key below HKEY_LOCAL_MACHINE.
std::wstring UsbPrinterParametersKey(const std::wstring& device_path);
// Attaches a USB printer: a present interface, enumerated after those before
// it, with "Port Description", "Port Number" and "Serial Number". Returns the
// interface's "Device Parameters" key.
std::wstring AddUsbPrinter(FakeMachine& m, const std::wstring& description, DWORD port,
                           const std::wstring& serial = L"S0001");
