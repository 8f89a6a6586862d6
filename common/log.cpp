#include "common/log.h"

#include "common/package.h"
#include "common/scoped_handle.h"
#include "common/temp_folder.h"
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

// Opened for appending by this process and the copies it starts, which
// write to the same file. The handle may read attributes for the checks.
constexpr DWORD kLogAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
constexpr DWORD kLogShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// A link is opened as itself, never followed to whatever it names.
constexpr DWORD kLogFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
// Names of the default log tried, its plain name and " (2)" up to " (100)".
constexpr int kLogNameTries = 100;

// Whether the opened log is a plain file with one name at the path asked
// for: no link, no second hard link through which another file would be
// written, no junction on the way to it (its final path, normalised, is the
// path asked for, without regard to case).
bool IsPlainFileAt(HANDLE file, const wchar_t* path) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!os.GetFileInformationByHandle(file, &information)) return false;
  if ((information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      information.nNumberOfLinks != 1) {
    return false;
  }
  WideText<kPathCapacity + 8> final_path = {};
  const DWORD length = os.GetFinalPathNameByHandleW(file, final_path.data(), static_cast<DWORD>(final_path.kCapacity),
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= final_path.kCapacity) return false;
  // "\\?\C:\..." and "\\?\UNC\server\share\..." as paths are typed.
  WideText<kPathCapacity + 8> typed = {};
  if (std::wcsncmp(final_path.c_str(), L"\\\\?\\UNC\\", 8) == 0) {
    BoundedFormat(typed, L"\\\\%ws", final_path.c_str() + 8);
  } else if (std::wcsncmp(final_path.c_str(), L"\\\\?\\", 4) == 0) {
    BoundedCopy(typed, final_path.c_str() + 4);
  } else {
    BoundedCopy(typed, final_path.c_str());
  }
  return CompareStringOrdinal(typed.c_str(), -1, path, -1, TRUE) == CSTR_EQUAL;
}

// A "/log=" file: created, or appended to when it is a plain file with one
// name at that path. Its whole path is kept, for the checks and for the
// copies, which run in another folder.
HANDLE OpenGivenLog(const wchar_t* path) {
  const DWORD length = os.GetFullPathNameW(path, kPathCapacity, log_path.data(), nullptr);
  if (length == 0 || length >= kPathCapacity) return nullptr;
  ScopedKernelHandle file(
      os.CreateFileW(log_path.c_str(), kLogAccess, kLogShare, nullptr, OPEN_ALWAYS, kLogFlags, nullptr));
  if (!file) return nullptr;
  if (!IsPlainFileAt(file.get(), log_path.c_str())) {
    trace("The log %ws is a link, has a second name or lies elsewhere than its path says; it is not written.",
          log_path);
    return nullptr;
  }
  return file.take();
}

// The default log: a new file in the temporary folder, never one that was
// there before (someone may have made it to read or forge the lines); a
// name taken gets a number.
HANDLE CreateDefaultLog() {
  PathText folder = {};
  if (!ReadTemporaryFolder(folder)) return nullptr;
  SYSTEMTIME now = {};
  os.GetLocalTime(&now);
  for (int n = 1; n <= kLogNameTries; ++n) {
    WideText<16> number = {};
    if (n > 1) BoundedFormat(number, L" (%d)", n);
    if (!BoundedFormat(log_path, L"%wsTapstart %04d-%02d-%02d %02d-%02d-%02d%ws.log", folder, now.wYear, now.wMonth,
                       now.wDay, now.wHour, now.wMinute, now.wSecond, number)) {
      return nullptr;
    }
    ScopedKernelHandle file(
        os.CreateFileW(log_path.c_str(), kLogAccess, kLogShare, nullptr, CREATE_NEW, kLogFlags, nullptr));
    if (file) return IsPlainFileAt(file.get(), log_path.c_str()) ? file.take() : nullptr;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return nullptr;
  }
  return nullptr;
}

}  // namespace

bool OpenLog(const wchar_t* path, const wchar_t* command_line, bool silent) {
  if (!lock_ready) {
    InitializeCriticalSection(&log_lock);
    lock_ready = true;
  }
  log_path = {};
  log_file.reset(path != nullptr && path[0] != L'\0' ? OpenGivenLog(path) : CreateDefaultLog());
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
