// The registry of the fake machine: keys below HKEY_LOCAL_MACHINE.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <set>

#include "tests/fakes/fake_machine.h"

namespace {

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

std::wstring Text(const wchar_t* s) { return s != nullptr ? s : L""; }

FakeRegistryKey* FindKey(FakeRegistry& r, const std::wstring& path) {
  const std::wstring want = Lower(path);
  for (auto& [name, key] : r.keys) {
    if (Lower(name) == want) return &key;
  }
  return nullptr;
}

// A key exists when it is listed or lies on the way to a listed key.
bool KeyExists(FakeRegistry& r, const std::wstring& path) {
  if (path.empty()) return true;
  const std::wstring want = Lower(path);
  for (auto& [name, key] : r.keys) {
    const std::wstring have = Lower(name);
    if (have == want) return true;
    if (have.size() > want.size() && have.compare(0, want.size(), want) == 0 &&
        have[want.size()] == L'\\') {
      return true;
    }
  }
  return false;
}

// Full path of `sub` below an open key (or HKEY_LOCAL_MACHINE); false for
// other roots or handles that are not open.
bool Resolve(FakeMachine& m, HKEY parent, const wchar_t* sub, std::wstring* path) {
  std::wstring base;
  if (parent == HKEY_LOCAL_MACHINE) {
    base.clear();
  } else {
    auto it = m.registry.open_keys.find(parent);
    if (it == m.registry.open_keys.end()) return false;
    base = it->second;
  }
  const std::wstring rest = Text(sub);
  if (rest.empty()) *path = base;
  else *path = base.empty() ? rest : base + L"\\" + rest;
  return true;
}

LSTATUS OpenKey(Seam function, HKEY parent, LPCWSTR sub, PHKEY result) {
  FakeMachine& m = Fake();
  DWORD error = 0;
  if (m.Enter(function, Text(sub), &error)) return static_cast<LSTATUS>(error);
  std::wstring path;
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  if (!Resolve(m, parent, sub, &path)) return ERROR_INVALID_HANDLE;
  if (!KeyExists(m.registry, path)) return ERROR_FILE_NOT_FOUND;
  HKEY key = static_cast<HKEY>(m.OpenHandle("key"));
  m.registry.open_keys[key] = path;
  *result = key;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI FakeRegOpenKeyExW(HKEY parent, LPCWSTR sub, DWORD, REGSAM, PHKEY result) {
  return OpenKey(Seam::RegOpenKeyExW, parent, sub, result);
}

LSTATUS WINAPI FakeRegOpenKeyW(HKEY parent, LPCWSTR sub, PHKEY result) {
  return OpenKey(Seam::RegOpenKeyW, parent, sub, result);
}

LSTATUS WINAPI FakeRegCloseKey(HKEY key) {
  FakeMachine& m = Fake();
  m.calls.push_back({Seam::RegCloseKey, {}});
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  if (m.registry.open_keys.erase(key) == 0) {
    ADD_FAILURE() << "RegCloseKey of a key that is not open";
    return ERROR_INVALID_HANDLE;
  }
  m.CloseHandleOf("key", key);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI FakeRegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD capacity) {
  FakeMachine& m = Fake();
  DWORD error = 0;
  if (m.Enter(Seam::RegEnumKeyW, std::to_wstring(index), &error)) return static_cast<LSTATUS>(error);
  std::wstring path;
  if (!Resolve(m, key, nullptr, &path)) return ERROR_INVALID_HANDLE;
  // Immediate children, in the order Windows lists them (by name).
  const std::wstring prefix = path.empty() ? L"" : Lower(path) + L"\\";
  std::vector<std::wstring> children;
  std::set<std::wstring> seen;
  for (auto& [full, value] : m.registry.keys) {
    (void)value;
    const std::wstring low = Lower(full);
    if (low.size() <= prefix.size() || low.compare(0, prefix.size(), prefix) != 0) continue;
    std::wstring child = full.substr(prefix.size());
    child = child.substr(0, child.find(L'\\'));
    if (seen.insert(Lower(child)).second) children.push_back(child);
  }
  std::sort(children.begin(), children.end(),
            [](const std::wstring& a, const std::wstring& b) { return Lower(a) < Lower(b); });
  if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
  const std::wstring& child = children[index];
  if (child.size() + 1 > capacity) return ERROR_MORE_DATA;
  child.copy(name, child.size());
  name[child.size()] = L'\0';
  return ERROR_SUCCESS;
}

const FakeRegistryValue* FindValue(FakeMachine& m, const std::wstring& path, LPCWSTR name) {
  FakeRegistryKey* key = FindKey(m.registry, path);
  if (key == nullptr) return nullptr;
  const std::wstring want = Lower(Text(name));
  for (auto& [n, value] : key->values) {
    if (Lower(n) == want) return &value;
  }
  return nullptr;
}

LSTATUS WINAPI FakeRegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                                    LPDWORD size) {
  FakeMachine& m = Fake();
  DWORD error = 0;
  if (m.Enter(Seam::RegQueryValueExW, Text(name), &error)) return static_cast<LSTATUS>(error);
  std::wstring path;
  if (!Resolve(m, key, nullptr, &path)) return ERROR_INVALID_HANDLE;
  const FakeRegistryValue* value = FindValue(m, path, name);
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = value->type;
  const DWORD need = static_cast<DWORD>(value->data.size());
  if (size == nullptr) return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  if (data == nullptr) {
    *size = need;
    return ERROR_SUCCESS;
  }
  if (*size < need) {
    *size = need;
    return ERROR_MORE_DATA;
  }
  std::copy(value->data.begin(), value->data.end(), data);
  *size = need;
  return ERROR_SUCCESS;
}

DWORD TypeFlag(DWORD type) {
  switch (type) {
    case REG_SZ: return RRF_RT_REG_SZ;
    case REG_EXPAND_SZ: return RRF_RT_REG_EXPAND_SZ;
    case REG_MULTI_SZ: return RRF_RT_REG_MULTI_SZ;
    case REG_DWORD: return RRF_RT_REG_DWORD;
    case REG_BINARY: return RRF_RT_REG_BINARY;
    case REG_QWORD: return RRF_RT_REG_QWORD;
    default: return RRF_RT_REG_NONE;
  }
}

LSTATUS WINAPI FakeRegGetValueW(HKEY key, LPCWSTR sub, LPCWSTR name, DWORD flags, LPDWORD type,
                                PVOID data, LPDWORD size) {
  FakeMachine& m = Fake();
  DWORD error = 0;
  if (m.Enter(Seam::RegGetValueW, Text(name), &error)) return static_cast<LSTATUS>(error);
  std::wstring path;
  if (!Resolve(m, key, sub, &path)) return ERROR_INVALID_HANDLE;
  const FakeRegistryValue* value = FindValue(m, path, name);
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  if ((TypeFlag(value->type) & flags & 0xFFFF) == 0) return ERROR_UNSUPPORTED_TYPE;
  if (type != nullptr) *type = value->type;
  // String types come back terminated, as RegGetValueW guarantees.
  std::vector<BYTE> bytes = value->data;
  if (value->type == REG_SZ || value->type == REG_EXPAND_SZ || value->type == REG_MULTI_SZ) {
    if (bytes.size() % 2) bytes.push_back(0);
    const int terminators = value->type == REG_MULTI_SZ ? 2 : 1;
    for (int i = 0; i < terminators; ++i) {
      const size_t n = bytes.size();
      if (n < 2 || bytes[n - 1] != 0 || bytes[n - 2] != 0 ||
          (i == 1 && (n < 4 || bytes[n - 3] != 0 || bytes[n - 4] != 0))) {
        bytes.push_back(0);
        bytes.push_back(0);
      }
    }
  }
  const DWORD need = static_cast<DWORD>(bytes.size());
  if (size == nullptr) return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  if (data == nullptr) {
    *size = need;
    return ERROR_SUCCESS;
  }
  if (*size < need) {
    *size = need;
    return ERROR_MORE_DATA;
  }
  std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(data));
  *size = need;
  return ERROR_SUCCESS;
}

std::vector<BYTE> Bytes(const std::wstring& text, bool terminate) {
  const BYTE* p = reinterpret_cast<const BYTE*>(text.c_str());
  std::vector<BYTE> out(p, p + text.size() * sizeof(wchar_t));
  if (terminate) out.insert(out.end(), sizeof(wchar_t), 0);
  return out;
}

}  // namespace

void FakeRegistry::SetString(const std::wstring& key, const std::wstring& name,
                             const std::wstring& text, DWORD type) {
  keys[key].values[name] = {type, Bytes(text, true)};
}

void FakeRegistry::SetMultiString(const std::wstring& key, const std::wstring& name,
                                  const std::vector<std::wstring>& texts) {
  std::vector<BYTE> data;
  for (const std::wstring& t : texts) {
    const std::vector<BYTE> b = Bytes(t, true);
    data.insert(data.end(), b.begin(), b.end());
  }
  data.insert(data.end(), sizeof(wchar_t), 0);
  keys[key].values[name] = {REG_MULTI_SZ, data};
}

void FakeRegistry::SetDword(const std::wstring& key, const std::wstring& name, DWORD value) {
  const BYTE* p = reinterpret_cast<const BYTE*>(&value);
  keys[key].values[name] = {REG_DWORD, std::vector<BYTE>(p, p + sizeof(value))};
}

void FakeRegistry::SetBytes(const std::wstring& key, const std::wstring& name, DWORD type,
                            const std::vector<BYTE>& data) {
  keys[key].values[name] = {type, data};
}

void FakeRegistry::AddDriverPackage(const std::wstring& environment, const std::wstring& record,
                                    const std::wstring& store_path) {
  SetMultiString(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\PackageInstallation\\" +
                     environment + L"\\DriverPackages\\" + record,
                 L"DriverStorePath", {store_path});
}

void FakeRegistry::RemoveKey(const std::wstring& key) {
  const std::wstring want = Lower(key);
  for (auto it = keys.begin(); it != keys.end();) {
    const std::wstring have = Lower(it->first);
    if (have == want || (have.size() > want.size() && have.compare(0, want.size(), want) == 0 &&
                         have[want.size()] == L'\\')) {
      it = keys.erase(it);
    } else {
      ++it;
    }
  }
}

void InstallRegistryFakes(OsTable& t) {
  t.RegOpenKeyExW = FakeRegOpenKeyExW;
  t.RegOpenKeyW = FakeRegOpenKeyW;
  t.RegCloseKey = FakeRegCloseKey;
  t.RegEnumKeyW = FakeRegEnumKeyW;
  t.RegQueryValueExW = FakeRegQueryValueExW;
  t.RegGetValueW = FakeRegGetValueW;
}
