// The USB printers attached to this machine, as the USB printing interface
// class lists them, with the names the install needs: port and hardware ID.
#pragma once

#include <cstdint>

#include "common/text.h"
#include "platform/win.h"

// The USB printing device-interface class.
extern const GUID kUsbPrintInterfaceClass;

struct UsbPrinterDevice {
  UsbPrinterDevice* next;
  WideText<5> vendor;             // the four vendor-ID characters of the device path
  WideText<5> checksum;           // HardwareIdChecksum of the description, "%04x"
  WideText<260> port_name;        // "USB%.3d" of the port number: USB001
  WideText<260> port_description; // at most 32 characters of "Port Description"
  WideText<260> serial_number;    // at most 32 characters of "Serial Number"
  WideText<260> hardware_id;      // "usbprint\" + description + checksum, lower case
};

// The list of the last scan; the newest record first.
extern UsbPrinterDevice* UsbPrinterList;

// Empties the list, scans every present USB printer interface into it and
// returns how many records this scan added.
int EnumerateUsbPrinters(UsbPrinterDevice** head);
void FreeUsbPrinterList(UsbPrinterDevice** head);
// The first record from `first` on whose port name equals `port` (with regard to case).
UsbPrinterDevice* FindUsbPrinterByPort(UsbPrinterDevice* first, const wchar_t* port);
uint16_t HardwareIdChecksum(const uint8_t* bytes, uint16_t length);
// The ANSI form of `source` in `destination`, or null when nothing was converted.
char* WideToAnsi(char* destination, size_t capacity, const wchar_t* source);
