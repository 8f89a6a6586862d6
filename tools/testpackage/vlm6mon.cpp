// The language monitor of the test driver package. It sits between the
// spooler and the USB port monitor and passes every call through to the port
// unchanged; it talks to no printer of its own.
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

namespace {

// One open port: the port monitor's handle and its function table.
struct Port {
  HANDLE port;
  MONITOR2* port_monitor;
};

Port* PortOf(HANDLE handle) { return static_cast<Port*>(handle); }

BOOL WINAPI OpenPortEx(HANDLE, HANDLE, LPWSTR port_name, LPWSTR, PHANDLE handle, MONITOR2* port_monitor) {
  if (handle == nullptr || port_monitor == nullptr || port_monitor->pfnOpenPort == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* port = static_cast<Port*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Port)));
  if (port == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  port->port_monitor = port_monitor;
  if (!port_monitor->pfnOpenPort(nullptr, port_name, &port->port)) {
    HeapFree(GetProcessHeap(), 0, port);
    return FALSE;
  }
  *handle = port;
  return TRUE;
}

BOOL WINAPI StartDocPort(HANDLE handle, LPWSTR printer, DWORD job, DWORD level, LPBYTE info) {
  Port* p = PortOf(handle);
  return p->port_monitor->pfnStartDocPort(p->port, printer, job, level, info);
}

BOOL WINAPI WritePort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD written) {
  Port* p = PortOf(handle);
  return p->port_monitor->pfnWritePort(p->port, buffer, size, written);
}

BOOL WINAPI ReadPort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD read) {
  Port* p = PortOf(handle);
  return p->port_monitor->pfnReadPort(p->port, buffer, size, read);
}

BOOL WINAPI EndDocPort(HANDLE handle) {
  Port* p = PortOf(handle);
  return p->port_monitor->pfnEndDocPort(p->port);
}

BOOL WINAPI ClosePort(HANDLE handle) {
  Port* p = PortOf(handle);
  const BOOL closed = p->port_monitor->pfnClosePort(p->port);
  HeapFree(GetProcessHeap(), 0, p);
  return closed;
}

void WINAPI Shutdown(HANDLE) {}

MONITOR2 kMonitor = [] {
  MONITOR2 m = {};
  m.cbSize = sizeof(MONITOR2);
  m.pfnOpenPortEx = OpenPortEx;
  m.pfnStartDocPort = StartDocPort;
  m.pfnWritePort = WritePort;
  m.pfnReadPort = ReadPort;
  m.pfnEndDocPort = EndDocPort;
  m.pfnClosePort = ClosePort;
  m.pfnShutdown = Shutdown;
  return m;
}();

}  // namespace

extern "C" __declspec(dllexport) LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT, PHANDLE monitor) {
  if (monitor != nullptr) *monitor = reinterpret_cast<HANDLE>(&kMonitor);
  return &kMonitor;
}
