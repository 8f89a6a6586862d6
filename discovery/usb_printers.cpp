#include "discovery/usb_printers.h"

#include <cstddef>
#include <cstring>
#include <cwchar>

#include "common/scoped_handle.h"
#include "platform/os.h"

const GUID kUsbPrintInterfaceClass = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

UsbPrinterDevice* UsbPrinterList = nullptr;

namespace {

// Where the USB printing class keeps an interface's values: the device path
// without its "\\?\" prefix, below the interface class.
constexpr wchar_t kParametersKeyFormat[] =
    L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\"
    L"{28d78fad-5a12-11d1-ae5b-0000f803a8c2}\\##?#%ws\\#\\Device Parameters";
constexpr size_t kDevicePathPrefixLength = 4;  // "\\?\"
constexpr size_t kVendorOffset = 12;           // "\\?\usb#vid_" then the vendor ID
constexpr size_t kAnsiScratchBytes = 255;

// Nibble tables of the checksum: CRC-16/ARC's, except high entry 15.
constexpr uint16_t kChecksumLow[16] = {0x0000, 0xC0C1, 0xC181, 0x0140, 0xC301, 0x03C0,
                                       0x0280, 0xC241, 0xC601, 0x06C0, 0x0780, 0xC741,
                                       0x0500, 0xC5C1, 0xC481, 0x0440};
constexpr uint16_t kChecksumHigh[16] = {0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00,
                                        0x2800, 0xE401, 0xA001, 0x6C00, 0x7800, 0xB401,
                                        0x5000, 0x9C01, 0x8801, 0x4600};

// The interface's detail block (its device path); empty when it cannot be read.
LocalBlock<SP_DEVICE_INTERFACE_DETAIL_DATA_W> ReadInterfaceDetail(HDEVINFO set,
                                                                  SP_DEVICE_INTERFACE_DATA* interface_data) {
  using Detail = SP_DEVICE_INTERFACE_DETAIL_DATA_W;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  DWORD needed = 0;
  os.SetupDiGetDeviceInterfaceDetailW(set, interface_data, nullptr, 0, &needed, &device);
  // The block must at least hold its header and a terminated path.
  if (needed < offsetof(Detail, DevicePath) + sizeof(wchar_t)) return {};
  auto detail = LocalBlock<Detail>::Allocate(needed, LMEM_FIXED);
  if (!detail) return {};
  detail->cbSize = sizeof(Detail);
  if (!os.SetupDiGetDeviceInterfaceDetailW(set, interface_data, detail.get(), needed, nullptr, &device)) {
    return {};
  }
  // A path without its terminator inside the block is not a path.
  const size_t path_capacity = (needed - offsetof(Detail, DevicePath)) / sizeof(wchar_t);
  if (wcsnlen(detail->DevicePath, path_capacity) == path_capacity) return {};
  return detail;
}

// The interface's "Device Parameters" key, opened for reading.
bool OpenParametersKey(const wchar_t* device_path, size_t path_length, ScopedKey* key) {
  const wchar_t* rest = device_path + (path_length < kDevicePathPrefixLength
                                           ? path_length
                                           : kDevicePathPrefixLength);
  const size_t capacity = (sizeof(kParametersKeyFormat) / sizeof(wchar_t)) + path_length;
  auto key_path = LocalBlock<wchar_t>::Allocate(capacity * sizeof(wchar_t), LMEM_FIXED);
  if (!key_path) return false;
  if (!BoundedFormat(key_path.get(), capacity, kParametersKeyFormat, rest)) return false;
  return os.RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path.get(), 0, KEY_QUERY_VALUE, key->receive()) ==
         ERROR_SUCCESS;
}

// The first 32 characters of a string value into `field`. A value that is
// missing, of another type or unreadable leaves the field empty; one without
// a terminator ends where its data ends.
template <size_t N>
void ReadTextValue(HKEY key, const wchar_t* name, WideText<N>& field) {
  field.clear();
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (os.RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return;
  }
  // Room for the data and a terminator of our own, zero-filled.
  const size_t characters = size / sizeof(wchar_t) + 2;
  auto text = LocalBlock<wchar_t>::Allocate(characters * sizeof(wchar_t));
  if (!text) return;
  DWORD read = static_cast<DWORD>((characters - 1) * sizeof(wchar_t));
  if (os.RegQueryValueExW(key, name, nullptr, &type, text.bytes(), &read) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return;
  }
  text.get()[read / sizeof(wchar_t)] = L'\0';
  BoundedFormat(field, L"%.32ws", text.get());
}

// The "Port Number" value; false when it is missing or not a 32-bit number.
bool ReadPortNumber(HKEY key, DWORD* number) {
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (os.RegQueryValueExW(key, L"Port Number", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                          &size) != ERROR_SUCCESS) {
    return false;
  }
  if (type != REG_DWORD || size != sizeof(value)) return false;
  *number = value;
  return true;
}

// The names the install needs, derived from the description as stored.
void DeriveHardwareId(UsbPrinterDevice* device) {
  char ansi[kAnsiScratchBytes] = {};
  const size_t length = WideToAnsi(ansi, sizeof(ansi), device->port_description.c_str()) != nullptr
                            ? strnlen(ansi, sizeof(ansi))
                            : 0;
  const uint16_t checksum =
      HardwareIdChecksum(reinterpret_cast<const uint8_t*>(ansi), static_cast<uint16_t>(length));
  BoundedFormat(device->checksum, L"%04x", checksum);
  BoundedFormat(device->hardware_id, L"usbprint\\%ws%ws", device->port_description,
                device->checksum);
  LowerCaseAscii(device->hardware_id.data(), device->hardware_id.kCapacity);
}

// One record for the interface, or null when it is left out.
UsbPrinterDevice* ReadUsbPrinter(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interface_data) {
  const auto detail = ReadInterfaceDetail(set, interface_data);
  if (!detail) return nullptr;
  const wchar_t* path = detail->DevicePath;
  const size_t path_length = wcslen(path);

  ScopedKey key;
  if (!OpenParametersKey(path, path_length, &key)) return nullptr;
  // Without a port there is nothing to install on.
  DWORD port_number = 0;
  if (!ReadPortNumber(key.get(), &port_number)) return nullptr;

  auto* device = LocalAllocZeroed<UsbPrinterDevice>();
  if (device == nullptr) return nullptr;
  BoundedFormat(device->port_name, L"USB%.3d", static_cast<int32_t>(port_number));
  ReadTextValue(key.get(), L"Port Description", device->port_description);
  ReadTextValue(key.get(), L"Serial Number", device->serial_number);
  // The vendor ID's four characters, or as many as the path holds.
  if (path_length > kVendorOffset) BoundedFormat(device->vendor, L"%.4ws", path + kVendorOffset);
  DeriveHardwareId(device);
  return device;
}

}  // namespace

int EnumerateUsbPrinters(UsbPrinterDevice** head) {
  if (head == nullptr) return 0;
  FreeUsbPrinterList(head);
  ScopedDeviceInfoSet set(os.SetupDiGetClassDevsW(&kUsbPrintInterfaceClass, nullptr, nullptr,
                                                  DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set) return 0;
  int count = 0;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interface_data{};
    interface_data.cbSize = sizeof(interface_data);
    if (!os.SetupDiEnumDeviceInterfaces(set.get(), nullptr, &kUsbPrintInterfaceClass, index,
                                        &interface_data)) {
      break;
    }
    UsbPrinterDevice* device = ReadUsbPrinter(set.get(), &interface_data);
    if (device == nullptr) continue;
    device->next = *head;
    *head = device;
    ++count;
  }
  return count;
}

void FreeUsbPrinterList(UsbPrinterDevice** head) {
  if (head == nullptr) return;
  while (*head != nullptr) {
    UsbPrinterDevice* device = *head;
    *head = device->next;
    os.LocalFree(device);
  }
}

UsbPrinterDevice* FindUsbPrinterByPort(UsbPrinterDevice* first, const wchar_t* port) {
  if (port == nullptr) return nullptr;
  for (UsbPrinterDevice* device = first; device != nullptr; device = device->next) {
    if (device->port_name.equals(port)) return device;
  }
  return nullptr;
}

uint16_t HardwareIdChecksum(const uint8_t* bytes, uint16_t length) {
  uint16_t v = 0;
  if (bytes == nullptr) return v;
  for (uint16_t i = 0; i < length; ++i) {
    const uint8_t a = static_cast<uint8_t>(bytes[i] ^ (v & 0xFF));
    v = static_cast<uint16_t>((v >> 8) ^ kChecksumLow[a & 0x0F] ^ kChecksumHigh[a >> 4]);
  }
  return v;
}

char* WideToAnsi(char* destination, size_t capacity, const wchar_t* source) {
  if (destination == nullptr || source == nullptr || capacity == 0) return nullptr;
  const size_t length = wcsnlen(source, capacity);
  if (length == capacity) return nullptr;
  if (length == 0) {
    destination[0] = '\0';
    return destination;
  }
  // Ask for the size first: in a double-byte code page one character may take
  // two bytes, and a conversion that does not fit is not done at all.
  const int needed = os.WideCharToMultiByte(CP_ACP, 0, source, static_cast<int>(length), nullptr,
                                            0, nullptr, nullptr);
  if (needed <= 0 || static_cast<size_t>(needed) >= capacity) return nullptr;
  const int written = os.WideCharToMultiByte(CP_ACP, 0, source, static_cast<int>(length),
                                             destination, needed, nullptr, nullptr);
  if (written != needed) return nullptr;
  destination[written] = '\0';
  return destination;
}
