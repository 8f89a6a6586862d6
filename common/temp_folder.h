// The temporary folder of the running account, for the log and the
// uninstaller's copies.
#pragma once

#include "common/text.h"
#include "platform/win.h"

// GetTempPath2W's folder where Windows has it (for SYSTEM C:\Windows\SystemTemp,
// which no other account can reach, where GetTempPathW gives a folder every
// user may write to), else GetTempPathW's. Ends with a backslash; false (and
// `folder` empty) when Windows could not give it whole in `capacity`.
bool ReadTemporaryFolder(wchar_t* folder, DWORD capacity);

template <size_t N>
bool ReadTemporaryFolder(WideText<N>& folder) {
  return ReadTemporaryFolder(folder.data(), static_cast<DWORD>(N));
}
