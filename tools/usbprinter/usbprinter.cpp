// Virtual USB printers for a Wine prefix, registered the way the USB printing
// class registers real ones: a device node, an interface of the USB printing
// interface class marked as linked, and the interface's "Device Parameters".
//
//   usbprinter add --description TEXT --port N [--serial S] [--device-id ID]
//                  [--hardware-id ID]
//   usbprinter remove --port N
//   usbprinter remove-all
//   usbprinter list
//
// Each command prints what it did, one line per printer; the exit code is 0 on
// success, 1 when the machine refused, 2 for a wrong command line.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

const GUID kUsbPrintInterfaceClass = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
// The setup class of USB devices.
const GUID kUsbDeviceClass = {
    0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr DWORD kDeviceIdCapacity = 201;  // the longest device ID and its terminator
constexpr wchar_t kDeviceClassesKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

// One line on standard output, as UTF-8.
void Print(const std::wstring& line) {
  const std::wstring text = line + L"\n";
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string out(bytes > 0 ? bytes : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), bytes,
                      nullptr, nullptr);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

int Fail(const std::wstring& what, DWORD error = GetLastError()) {
  wchar_t code[32];
  swprintf(code, 32, L"%lu (0x%lx)", static_cast<unsigned long>(error),
           static_cast<unsigned long>(error));
  Print(L"usbprinter: " + what + L" failed, error " + code);
  return 1;
}

int Usage(const std::wstring& why) {
  Print(L"usbprinter: " + why);
  Print(L"usage: usbprinter add --description TEXT --port N [--serial S] [--device-id ID] "
        L"[--hardware-id ID]");
  Print(L"       usbprinter remove --port N | remove-all | list");
  return 2;
}

std::wstring PortName(DWORD port) {
  wchar_t name[16];
  swprintf(name, 16, L"USB%03lu", static_cast<unsigned long>(port));
  return name;
}

// A handle closed when it goes out of scope.
template <typename H, auto Close>
class Scoped {
 public:
  Scoped() = default;
  explicit Scoped(H handle) : handle_(handle) {}
  ~Scoped() {
    if (*this) Close(handle_);
  }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  H get() const { return handle_; }
  H* receive() { return &handle_; }

 private:
  H handle_ = nullptr;
};

using DeviceSet = Scoped<HDEVINFO, SetupDiDestroyDeviceInfoList>;
using Key = Scoped<HKEY, RegCloseKey>;

std::wstring DevicePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, SP_DEVINFO_DATA* device) {
  DWORD needed = 0;
  SetupDiGetDeviceInterfaceDetailW(set, data, nullptr, 0, &needed, device);
  if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return L"";
  std::vector<BYTE> block(needed + sizeof(wchar_t), 0);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupDiGetDeviceInterfaceDetailW(set, data, detail, needed, nullptr, device)) return L"";
  return detail->DevicePath;
}

std::wstring DeviceId(HDEVINFO set, SP_DEVINFO_DATA* device) {
  wchar_t id[kDeviceIdCapacity] = {};
  if (!SetupDiGetDeviceInstanceIdW(set, device, id, kDeviceIdCapacity, nullptr)) return L"";
  return id;
}

bool SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool SetDword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof(value)) == ERROR_SUCCESS;
}

// The interface's own key below the class: "##?#" and the path after "\\?\".
std::wstring InterfaceKey(const std::wstring& path) {
  return std::wstring(kDeviceClassesKey) + L"\\##?#" + (path.size() > 4 ? path.substr(4) : L"");
}

// Marks the interface as linked (present), or no longer.
bool SetLinked(const std::wstring& path, DWORD linked) {
  Key control;
  const std::wstring name = InterfaceKey(path) + L"\\#\\Control";
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      control.receive(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return SetDword(control.get(), L"Linked", linked);
}

struct Printer {
  std::wstring path;
  std::wstring device_id;
  std::wstring description;
  std::wstring serial;
  DWORD port = 0;
  bool has_port = false;
};

std::wstring Describe(const Printer& p) {
  return (p.has_port ? PortName(p.port) : L"(no port)") + L" \"" + p.description + L"\" serial \"" +
         p.serial + L"\" device " + p.device_id + L" path " + p.path;
}

std::wstring ReadString(HKEY key, const wchar_t* name) {
  wchar_t text[512] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return L"";
  }
  return text;
}

// Every USB printer interface registered in the prefix, present or not, with
// its values; `visit` may remove it.
template <typename F>
int ForEachPrinter(F visit) {
  DeviceSet set(SetupDiGetClassDevsW(&kUsbPrintInterfaceClass, nullptr, nullptr,
                                     DIGCF_DEVICEINTERFACE));
  if (!set) return Fail(L"SetupDiGetClassDevsW");
  // Collect first: removing while enumerating shifts the indexes.
  struct Found {
    SP_DEVICE_INTERFACE_DATA data;
    SP_DEVINFO_DATA device;
    Printer printer;
  };
  std::vector<Found> found;
  for (DWORD index = 0;; ++index) {
    Found f{};
    f.data.cbSize = sizeof(f.data);
    f.device.cbSize = sizeof(f.device);
    if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &kUsbPrintInterfaceClass, index,
                                     &f.data)) {
      break;
    }
    f.printer.path = DevicePath(set.get(), &f.data, &f.device);
    f.printer.device_id = DeviceId(set.get(), &f.device);
    Key parameters(SetupDiOpenDeviceInterfaceRegKey(set.get(), &f.data, 0, KEY_QUERY_VALUE));
    if (parameters) {
      f.printer.description = ReadString(parameters.get(), L"Port Description");
      f.printer.serial = ReadString(parameters.get(), L"Serial Number");
      DWORD type = 0, size = sizeof(f.printer.port);
      f.printer.has_port =
          RegQueryValueExW(parameters.get(), L"Port Number", nullptr, &type,
                           reinterpret_cast<BYTE*>(&f.printer.port), &size) == ERROR_SUCCESS &&
          type == REG_DWORD;
    }
    found.push_back(f);
  }
  int result = 0;
  for (Found& f : found) {
    if (visit(set.get(), &f.data, &f.device, f.printer) != 0) result = 1;
  }
  return result;
}

int RemovePrinter(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, SP_DEVINFO_DATA* device,
                  const Printer& p) {
  // Unlinked first, so that the interface stops counting as present even if
  // the removal below leaves something behind.
  SetLinked(p.path, 0);
  if (!SetupDiRemoveDeviceInterface(set, data)) return Fail(L"SetupDiRemoveDeviceInterface");
  if (!SetupDiRemoveDevice(set, device)) return Fail(L"SetupDiRemoveDevice");
  Print(L"removed " + Describe(p));
  return 0;
}

// The registered device's hardware ID, its interface, the interface's values
// and its link.
int AddInterface(HDEVINFO set, SP_DEVINFO_DATA* device,
                 const std::map<std::wstring, std::wstring>& options, Printer* printer) {
  Printer& p = *printer;
  if (options.count(L"--hardware-id")) {
    // A list of strings ended by an empty one.
    std::wstring ids = options.at(L"--hardware-id");
    ids.push_back(L'\0');
    ids.push_back(L'\0');
    if (!SetupDiSetDeviceRegistryPropertyW(set, device, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(ids.data()),
                                           static_cast<DWORD>(ids.size() * sizeof(wchar_t)))) {
      return Fail(L"SetupDiSetDeviceRegistryPropertyW");
    }
  }
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof(data);
  if (!SetupDiCreateDeviceInterfaceW(set, device, &kUsbPrintInterfaceClass, nullptr, 0,
                                     &data)) {
    return Fail(L"SetupDiCreateDeviceInterfaceW");
  }
  // This key is the interface's "Device Parameters".
  Key parameters(SetupDiCreateDeviceInterfaceRegKeyW(set, &data, 0, KEY_SET_VALUE, nullptr,
                                                     nullptr));
  if (!parameters) return Fail(L"SetupDiCreateDeviceInterfaceRegKeyW");
  if (!SetString(parameters.get(), L"Port Description", p.description) ||
      !SetDword(parameters.get(), L"Port Number", p.port) ||
      !SetString(parameters.get(), L"Serial Number", p.serial)) {
    return Fail(L"writing the Device Parameters");
  }
  p.path = DevicePath(set, &data, nullptr);
  if (p.path.empty()) return Fail(L"SetupDiGetDeviceInterfaceDetailW");
  if (!SetLinked(p.path, 1)) return Fail(L"marking the interface linked");
  Print(L"added " + Describe(p));
  return 0;
}

int Add(const std::map<std::wstring, std::wstring>& options) {
  auto option = [&](const wchar_t* name) {
    auto it = options.find(name);
    return it == options.end() ? std::wstring() : it->second;
  };
  if (!options.count(L"--description")) return Usage(L"add needs --description");
  if (!options.count(L"--port")) return Usage(L"add needs --port");
  Printer p;
  wchar_t* end = nullptr;
  const std::wstring port_text = option(L"--port");
  p.port = static_cast<DWORD>(wcstoul(port_text.c_str(), &end, 10));
  if (port_text.empty() || *end != L'\0') return Usage(L"--port takes a number");
  p.has_port = true;
  p.description = option(L"--description");
  p.serial = options.count(L"--serial") ? option(L"--serial") : L"VLM" + std::to_wstring(p.port);
  p.device_id = options.count(L"--device-id")
                    ? option(L"--device-id")
                    : L"USB\\VID_3F19&PID_0001\\5&1a2b3c&0&" + std::to_wstring(p.port);

  DeviceSet set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
  if (!set) return Fail(L"SetupDiCreateDeviceInfoList");
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  if (!SetupDiCreateDeviceInfoW(set.get(), p.device_id.c_str(), &kUsbDeviceClass, p.description.c_str(),
                                nullptr, 0, &device)) {
    const DWORD error = GetLastError();
    if (error == ERROR_DEVINST_ALREADY_EXISTS) {
      Print(L"usbprinter: a device " + p.device_id + L" exists already (give another --port or --device-id)");
    }
    return Fail(L"SetupDiCreateDeviceInfoW " + p.device_id, error);
  }
  if (!SetupDiRegisterDeviceInfo(set.get(), &device, 0, nullptr, nullptr, nullptr)) {
    return Fail(L"SetupDiRegisterDeviceInfo " + p.device_id);
  }
  // From here on a failure takes the half-made device away again.
  const int result = AddInterface(set.get(), &device, options, &p);
  if (result != 0) SetupDiRemoveDevice(set.get(), &device);
  return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Usage(L"no command");
  const std::wstring command = argv[1];
  std::map<std::wstring, std::wstring> options;
  for (int i = 2; i < argc; i += 2) {
    if (i + 1 >= argc || std::wcsncmp(argv[i], L"--", 2) != 0) {
      return Usage(std::wstring(L"unexpected ") + argv[i]);
    }
    options[argv[i]] = argv[i + 1];
  }
  if (command == L"add") return Add(options);
  if (command == L"list") {
    int listed = 0;
    const int rc = ForEachPrinter([&](HDEVINFO, SP_DEVICE_INTERFACE_DATA* data, SP_DEVINFO_DATA*,
                                      const Printer& p) {
      const bool present = (data->Flags & SPINT_ACTIVE) != 0;
      Print(std::wstring(present ? L"present " : L"absent ") + Describe(p));
      ++listed;
      return 0;
    });
    Print(std::to_wstring(listed) + L" USB printer interface(s)");
    return rc;
  }
  if (command == L"remove" || command == L"remove-all") {
    const bool all = command == L"remove-all";
    DWORD port = 0;
    if (!all) {
      if (!options.count(L"--port")) return Usage(L"remove needs --port");
      wchar_t* end = nullptr;
      port = static_cast<DWORD>(wcstoul(options[L"--port"].c_str(), &end, 10));
      if (options[L"--port"].empty() || *end != L'\0') return Usage(L"--port takes a number");
    }
    int removed = 0;
    const int rc = ForEachPrinter([&](HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                      SP_DEVINFO_DATA* device, const Printer& p) {
      if (!all && !(p.has_port && p.port == port)) return 0;
      const int result = RemovePrinter(set, data, device, p);
      if (result == 0) ++removed;
      return result;
    });
    Print(L"removed " + std::to_wstring(removed) + L" USB printer(s)");
    if (!all && removed == 0 && rc == 0) return Fail(L"finding a printer on " + PortName(port),
                                                     ERROR_FILE_NOT_FOUND);
    return rc;
  }
  return Usage(L"unknown command " + command);
}
