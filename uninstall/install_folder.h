// The install folder at the end of an uninstall: only what belongs to the
// package and the program is deleted from it.
#pragma once

#include "platform/win.h"

// Whether `folder` may be treated as the install folder: an absolute path
// that is not a drive or share root, without wildcards or "." and ".." steps,
// that holds the package INF.
bool IsOwnInstallDirectory(const wchar_t* folder);

// Deletes InstallDirectory through the shell (to the Recycle Bin where it
// can, with the shell's own confirmation, owned by `owner`) when it is our
// own folder. The folder goes whole only when everything in it belongs to
// the package layout: the program (unins000.exe, unins000.dat, copies of the
// program), the INF and the files it names, its catalog, and the
// architecture and data folders holding only package files. Otherwise only
// those entries go; the folder and everything else stay, and the trace names
// what was kept.
void DeleteInstallFolder(HWND owner);
