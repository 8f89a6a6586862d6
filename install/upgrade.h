// Bringing a newer package onto a machine that has the driver family: the
// driver store, the bound devices and the spooler's drivers take the new
// files in place, and the queues stay as they are, with their names, ports
// and settings.
#pragma once

#include <compare>
#include <cstdint>

#include "common/text.h"
#include "install/install_printer.h"
#include "install/install_request.h"
#include "platform/win.h"

// A DriverVer text ("mm/dd/yyyy,w.x.y.z") as two numbers that compare as
// Windows ranks packages: the date first, then the version. A part that
// cannot be read is 0, which counts as older than any other.
struct DriverVer {
  uint64_t date = 0;     // year, month, day: 32, 16 and 16 bits
  uint64_t version = 0;  // w.x.y.z: 16 bits each
  auto operator<=>(const DriverVer&) const = default;
};
DriverVer ReadDriverVer(const wchar_t* text);
// A driver version as its four numbers: "2025.8.22.1".
WideText<32> VersionName(uint64_t version);

// How the family installed compares with this package.
enum class InstalledVersion { kOlder, kSame, kNewer };

// Compares this package's version, the DriverVer of the INF beside the
// program, by the inventory that the install-state probe has built: its
// version part with the family's printer drivers' versions, and the whole
// with the DriverVer of the family's packages in the driver store (where
// there are any). Either newer installed: kNewer; otherwise either older:
// kOlder. The verdict and both versions are traced.
InstalledVersion CompareInstalledVersion();

// The upgrade, without a window: uploads the package, binds it to every
// attached device of a supported model, stages the new files and registers
// every family driver again with them, makes the queue of an attached
// supported printer that lacks one, and deletes the family's older packages
// that no driver uses any more. Needs the probe's inventory. 0 upgraded,
// 3010 when a file waits for the next start, otherwise the error of the
// first step that failed; the upload, the bindings and the deletions of
// older packages are traced, not counted.
int UpgradeInPlace();

// Every family printer driver of the inventory once (each is attached to
// every package node), the records pointing into the inventory's array.
constexpr size_t kMaxFamilyDrivers = 32;
struct FamilyDrivers {
  const DRIVER_INFO_8W* records[kMaxFamilyDrivers] = {};
  size_t count = 0;
  bool Has(const wchar_t* name) const;
  bool UseLanguageMonitor() const;  // any of them
};
FamilyDrivers CollectFamilyDrivers();
// Whether a driver names the package's language monitor.
bool UsesLanguageMonitor(const DRIVER_INFO_8W& driver);

// The steps an upgrade and a repair share. The package's files in place of
// the ones the drivers use: uploaded to the driver store and bound to every
// attached printer of a supported model, then every driver installed again
// from the store's copy or registered again with the folder's files; with
// `restore_monitor`, the language monitor first put back into the system
// directory and registered. False when a file of the package is missing:
// nothing is changed then. The package's INF in the store, empty without
// one, in `store_path`; the first failure in `cause`.
bool PutPackageInPlace(const FamilyDrivers& drivers, bool restore_monitor, FirstError& cause, StorePathText& store_path);
// The language monitor alone: its DLL into the system directory where `copy`
// says so, and registered. False on the first failure, in `cause`.
bool RestoreLanguageMonitor(bool copy, FirstError& cause);
