// Where the package lies: a folder that accounts other than administrators
// can change lets them put files beside a program that runs elevated.
#pragma once

// At start of an elevated run: one warning line (trace and log) naming the
// program's folder when anyone but SYSTEM, Administrators, TrustedInstaller
// and the folder's owner may write to it. Nothing when that cannot be told.
void WarnOfAFolderOthersMayChange();
