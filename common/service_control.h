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
// The tool never leaves the spooler stopped: whenever it has sent a stop, it
// sends the start before it goes on. A stop that outlasts its 10 s wait is
// waited out up to kStopGraceMs more; a spooler that still does not report
// stopped is started anyway. Both are traced.
constexpr DWORD kSpoolerTimeout = 10000;
constexpr DWORD kStopGraceMs = 30000;
// A start of ours is sent again until the spooler runs, for this long at most;
// one that still does not run is the run's failure (SpoolerLeftStopped).
constexpr DWORD kStartBoundMs = 30000;

// Stops and starts the spooler, then pauses 1 s. A spooler that was not
// running is only started (from the stopped state).
void RestartSpooler();
// When the spooler runs: stops it (and the running services that depend on
// it), runs action(context) once it is stopped (only when both are given,
// 200 ms after the stop), and starts it (and them) again. When the spooler
// does not run, does nothing at all. Returns the error with which the stop
// was refused (then nothing was waited for or run), or ERROR_SUCCESS.
DWORD RestartSpoolerWithAction(SpoolerAction action, const wchar_t* context);

// For work done with the spooler stopped, on one connection: when the
// spooler runs, stops it (waiting out a slow stop), calls work(context,
// stopped) and starts it again. Returns 1 when it was seen running again;
// `stop_sent` says whether it was running and a stop was sent at all.
int RunWithSpoolerStopped(void (*work)(const wchar_t* context, bool stopped), const wchar_t* context,
                          bool* stop_sent);

// Whether a stop of ours is waiting for its start now (on any thread).
bool SpoolerHeldStopped();

// At the start of an install or uninstall: a spooler that is not running
// (someone stopped it, or an earlier run was ended while it was stopped) is
// started first. ERROR_SUCCESS when it runs (or cannot be asked);
// ERROR_SERVICE_DISABLED (1058) for a disabled one; otherwise the start's
// error, 1603 when none.
DWORD StartSpoolerIfStopped();
