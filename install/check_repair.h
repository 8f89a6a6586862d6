// "/check" and "/repair", for the tools that keep a fleet of PCs working: a
// check that reads what the driver family left on this PC and says, one
// line each, what is as this package has it and what is not; and a repair
// that puts back what the check finds missing or changed, the way an upgrade
// does at the same version, keeping every queue and its settings.
#pragma once

// The check's exit code when it found a problem that the repair mends.
constexpr int kExitProblemFound = 1;

// Changes nothing (a stopped spooler aside, which is started). One trace
// line each, "OK: ..." or "Problem: ...": the spooler runs, protected print
// mode is off, each family driver is registered for the machine's
// environment in this package's version or a newer one, with this package's
// driver, configuration and data files; the language monitor is registered
// and its DLL in the system directory is this package's; a family package is
// in the driver store, where Windows has one; every attached supported
// printer has its queue on its port; no file of the driver waits for the next
// start; no copy of the uninstaller is left. The summary goes to the standard
// output the caller gave, if any. 0 when every line is OK (or nothing of the
// family is installed); kExitProblemFound; 3010 when the only problem is a
// file that waits for the next start; 1058 for a disabled spooler, 3014 under
// protected print mode, and otherwise the error that kept it from telling
// what is installed.
int CheckInstallation();

// Where a family driver is installed, mends what the check finds: the
// package put in place as an upgrade does (for a driver, its files or the
// store's package), the language monitor put back and registered, queues for
// attached printers (moved or made, never deleted), leftover uninstaller
// copies deleted. Exit codes as a silent install's: 0, 3010 (also while a
// file still waits for the next start), or the error of the first step that
// failed; 0 when nothing of the family is installed.
int RepairInstallation();
