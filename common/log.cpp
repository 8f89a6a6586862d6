#include "common/log.h"

#include "common/package.h"
#include "common/scoped_handle.h"
#include "platform/os.h"

namespace {

ScopedKernelHandle log_file;
PathText log_path = {};
CRITICAL_SECTION log_lock;
bool lock_ready = false;

// One line, time stamp first, as UTF-8; the lock keeps lines of two threads apart.
void WriteLine(const wchar_t* text) {
  if (!log_file) return;
  SYSTEMTIME now = {};
  os.GetLocalTime(&now);
  WideText<kTraceLogLineCapacity> line = {};
  BoundedFormat(line, L"%04d-%02d-%02d %02d:%02d:%02d.%03d %ws\r\n", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond, now.wMilliseconds, text);
  char bytes[kTraceLogLineCapacity * 3];
  const int size = os.WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.length()), bytes,
                                          sizeof(bytes), nullptr, nullptr);
  if (size <= 0) return;
  EnterCriticalSection(&log_lock);
  DWORD written = 0;
  os.WriteFile(log_file.get(), bytes, static_cast<DWORD>(size), &written, nullptr);
  LeaveCriticalSection(&log_lock);
}

// A text value of the Windows version key, or an empty text.
void ReadVersionValue(const wchar_t* name, WideText<128>& text) {
  text = {};
  DWORD size = sizeof(text.chars) - sizeof(wchar_t);
  if (os.RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", name, RRF_RT_REG_SZ,
                      nullptr, text.data(), &size) != ERROR_SUCCESS) {
    text = {};
  }
}

void WriteOpeningLines(const wchar_t* command_line, bool silent) {
  WideText<1200> line = {};
  BoundedFormat(line, L"Tapstart installer %ws", kProgramVersion);
  WriteLine(line.c_str());
  BoundedFormat(line, L"Command line: %ws", command_line != nullptr ? command_line : L"");
  WriteLine(line.c_str());
  WideText<128> product, display, build;
  ReadVersionValue(L"ProductName", product);
  ReadVersionValue(L"DisplayVersion", display);
  ReadVersionValue(L"CurrentBuildNumber", build);
  DWORD revision = 0;
  DWORD size = sizeof(revision);
  if (os.RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"UBR",
                      RRF_RT_REG_DWORD, nullptr, &revision, &size) != ERROR_SUCCESS) {
    revision = 0;
  }
  BoundedFormat(line, L"Windows: %ws %ws, build %ws.%u", product, display, build, revision);
  WriteLine(line.c_str());
  SYSTEM_INFO system = {};
  os.GetNativeSystemInfo(&system);
  const PackageArchitecture* architecture = NativeArchitecture();
  BoundedFormat(line, L"Native architecture: %u (%ws)", static_cast<unsigned>(system.wProcessorArchitecture),
                architecture != nullptr ? architecture->environment : L"not one of the package's");
  WriteLine(line.c_str());
  WideText<257> account = {};
  DWORD length = 257;
  if (!os.GetUserNameW(account.data(), &length)) account = {};
  BoundedFormat(line, L"Account: %ws", account);
  WriteLine(line.c_str());
  WriteLine(silent ? L"Silent run: yes" : L"Silent run: no");
}

}  // namespace

bool OpenLog(const wchar_t* path, const wchar_t* command_line, bool silent) {
  if (!lock_ready) {
    InitializeCriticalSection(&log_lock);
    lock_ready = true;
  }
  log_path = {};
  if (path != nullptr && path[0] != L'\0') {
    if (!BoundedCopy(log_path, path)) return false;
  } else {
    PathText temp = {};
    const DWORD length = os.GetTempPathW(kPathCapacity, temp.data());
    SYSTEMTIME now = {};
    os.GetLocalTime(&now);
    if (length == 0 || length >= kPathCapacity ||
        !BoundedFormat(log_path, L"%wsTapstart %04d-%02d-%02d %02d-%02d-%02d.log", temp, now.wYear, now.wMonth,
                       now.wDay, now.wHour, now.wMinute, now.wSecond)) {
      return false;
    }
  }
  log_file.reset(os.CreateFileW(log_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!log_file) {
    log_path = {};
    return false;
  }
  WriteOpeningLines(command_line, silent);
  return true;
}

void LogLine(const wchar_t* line) { WriteLine(line); }

void CloseLog(int exit_code) {
  if (!log_file) return;
  WideText<64> line = {};
  BoundedFormat(line, L"Exit code: %d", exit_code);
  WriteLine(line.c_str());
  log_file.reset();
  log_path = {};
}

const wchar_t* LogPath() { return log_path.c_str(); }
