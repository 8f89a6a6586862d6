#include "common/pending_renames.h"

#include <cwchar>

#include "common/scoped_handle.h"
#include "common/trace.h"
#include "platform/os.h"

namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

// An entry's path as the program names files: without the "!" of a
// replacing move and the "\??\" of a path in the object namespace.
const wchar_t* PlainPath(const wchar_t* entry) {
  if (*entry == L'!') ++entry;
  if (std::wcsncmp(entry, L"\\??\\", 4) == 0) entry += 4;
  return entry;
}

// Each pair of the list: visit(from, to), plain paths, `to` empty for a
// deletion, until it answers true. Whether one did; false where the list
// cannot be read.
template <typename Visit>
bool AnyPendingRename(Visit visit) {
  DWORD size = 0;
  if (os.RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                      &size) != ERROR_SUCCESS ||
      size < 2 * sizeof(wchar_t)) {
    return false;
  }
  // Two terminators more than asked for: the list ends whatever was read.
  auto list = LocalBlock<wchar_t>::Allocate(size + 2 * sizeof(wchar_t));
  if (!list || os.RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, RRF_RT_REG_MULTI_SZ, nullptr,
                               list.get(), &size) != ERROR_SUCCESS) {
    return false;
  }
  // "szSrcFile\0szDstFile\0" a pair, an empty destination for a deletion.
  const wchar_t* end = list.get() + size / sizeof(wchar_t);
  for (const wchar_t* from = list.get(); from < end && *from != L'\0';) {
    const wchar_t* to = from + std::wcslen(from) + 1;
    if (to >= end) break;
    if (visit(PlainPath(from), *to == L'\0' ? L"" : PlainPath(to))) return true;
    from = to + std::wcslen(to) + 1;
  }
  return false;
}

// The file name of a path: what follows its last backslash.
const wchar_t* FileName(const wchar_t* path) {
  const wchar_t* slash = std::wcsrchr(path, L'\\');
  return slash != nullptr ? slash + 1 : path;
}

}  // namespace

bool RemovalPendingAtRestart(const wchar_t* path) {
  const bool pending = AnyPendingRename([&](const wchar_t* from, const wchar_t* to) {
    return _wcsicmp(from, path) == 0 && (*to == L'\0' || _wcsicmp(to, path) != 0);
  });
  if (pending) trace("%ws is to be removed at the next start.", path);
  return pending;
}

bool NamedFilePendingAtRestart(const wchar_t* const* names, size_t count, PathText& found) {
  found.clear();
  return AnyPendingRename([&](const wchar_t* from, const wchar_t* to) {
    for (size_t i = 0; i < count; ++i) {
      for (const wchar_t* path : {from, to}) {
        if (*path == L'\0' || _wcsicmp(FileName(path), names[i]) != 0) continue;
        BoundedCopy(found, path);
        return true;
      }
    }
    return false;
  });
}
