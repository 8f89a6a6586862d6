// Stopping and starting Windows services, the print spooler above all, with
// waits bounded by a number of status polls 10 ms apart.
#pragma once

#include "platform/win.h"

// Work done while the spooler is stopped; takes one text, returns nothing.
using SpoolerAction = void (*)(const wchar_t* context);

// 1 when the service was running, was asked to stop and was seen stopped
// within timeout_ms / 10 polls; 0 otherwise (also when it was not running).
int StopServiceAndWait(const wchar_t* service_name, DWORD timeout_ms);
// 1 when the service was stopped, was started and was seen running within
// timeout_ms / 10 polls; 0 otherwise (also when it was not stopped).
int StartServiceAndWait(const wchar_t* service_name, DWORD timeout_ms);
// Stops and starts the spooler (10 s each at most), then pauses 1 s.
void RestartSpooler();
// When the spooler runs: stops it, runs action(context) while it is stopped
// (only when both are given, 200 ms after the stop), and starts it again.
// When the spooler does not run, does nothing at all.
void RestartSpoolerWithAction(SpoolerAction action, const wchar_t* context);
