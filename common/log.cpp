#include "common/log.h"

#include "common/package.h"
#include "common/scoped_handle.h"
#include "platform/os.h"

#include <cwchar>
#include <iterator>

namespace {

ScopedKernelHandle log_file;
PathText log_path = {};
CRITICAL_SECTION log_lock;
bool lock_ready = false;
const wchar_t* log_role = L"program";

constexpr wchar_t kCutMark[] = L" [line cut]";

// One line as UTF-8: time stamp, process id and role, the text, and the line
// end, which a text too long for the line never costs (it is cut and says
// so). The lock keeps lines of two threads apart and the handle open while
// one is written.
void WriteLine(const wchar_t* text) {
  SYSTEMTIME now = {};
  os.GetLocalTime(&now);
  WideText<kTraceLogLineCapacity> line = {};
  BoundedFormat(line, L"%04d-%02d-%02d %02d:%02d:%02d.%03d [%u %ws] ", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond, now.wMilliseconds, static_cast<unsigned>(GetCurrentProcessId()), log_role);
  const size_t room = kTraceLogLineCapacity - 1 - line.length() - 2;  // the line end always fits
  size_t length = wcslen(text);
  const bool cut = length > room;
  if (cut) length = room - (std::size(kCutMark) - 1);
  wmemcpy(line.data() + line.length(), text, length);
  line.data()[line.length() + length] = L'\0';
  if (cut) wcscat(line.data(), kCutMark);
  wcscat(line.data(), L"\r\n");
  char bytes[kTraceLogLineCapacity * 3];
  const int size = os.WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.length()), bytes,
                                          sizeof(bytes), nullptr, nullptr);
  if (size <= 0 || !lock_ready) return;
  EnterCriticalSection(&log_lock);
  if (log_file) {
    DWORD written = 0;
    os.WriteFile(log_file.get(), bytes, static_cast<DWORD>(size), &written, nullptr);
  }
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
  const WORD processor = NativeProcessor();
  const PackageArchitecture* architecture = FindArchitecture(processor);
  BoundedFormat(line, L"Native architecture: %u (%ws)", static_cast<unsigned>(processor),
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

void LogLine(const wchar_t* line) {
  if (log_file) WriteLine(line);
}

void SetLogRole(const wchar_t* role) { log_role = role; }

void CloseLog(int exit_code) {
  if (!log_file) return;
  WideText<64> line = {};
  FormatExitCode(line, exit_code);
  WriteLine(line.c_str());
  // Under the lock: a worker thread may still be writing a line.
  EnterCriticalSection(&log_lock);
  log_file.reset();
  LeaveCriticalSection(&log_lock);
  log_path = {};
}

void FormatExitCode(WideText<64>& line, int exit_code) {
  // As the process returns it: unsigned, and an HRESULT in hex as well.
  const unsigned code = static_cast<unsigned>(exit_code);
  if (code >= 0x80000000u) {
    BoundedFormat(line, L"Exit code: %u (0x%08x)", code, code);
  } else {
    BoundedFormat(line, L"Exit code: %u", code);
  }
}

const wchar_t* LogPath() { return log_path.c_str(); }
