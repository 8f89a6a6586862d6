// Bringing a newer package onto a machine that has the driver family: the
// driver store, the bound devices and the spooler's drivers take the new
// files in place, and the queues stay as they are, with their names, ports
// and settings.
#pragma once

#include <compare>
#include <cstdint>

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
