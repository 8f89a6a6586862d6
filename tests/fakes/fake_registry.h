// The fake machine's registry: keys below HKEY_LOCAL_MACHINE with their values.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/win.h"

struct FakeRegistryValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct FakeRegistryKey {
  std::map<std::wstring, FakeRegistryValue> values;  // by name as written
};

struct FakeRegistry {
  // Keys by full path below HKEY_LOCAL_MACHINE, as written; looked up without
  // regard to case, as Windows does. A key's parents need not be listed.
  std::map<std::wstring, FakeRegistryKey> keys;

  void SetString(const std::wstring& key, const std::wstring& name, const std::wstring& text,
                 DWORD type = REG_SZ);
  void SetMultiString(const std::wstring& key, const std::wstring& name,
                      const std::vector<std::wstring>& texts);
  void SetDword(const std::wstring& key, const std::wstring& name, DWORD value);
  void SetBytes(const std::wstring& key, const std::wstring& name, DWORD type,
                const std::vector<BYTE>& data);
  // Keys opened through the fake, by handle: their full paths.
  std::map<HKEY, std::wstring> open_keys;

  void AddKey(const std::wstring& key) { keys[key]; }
  // The spooler's record of a driver package for an environment
  // ("Windows x64", ...), with its "DriverStorePath".
  void AddDriverPackage(const std::wstring& environment, const std::wstring& record,
                        const std::wstring& store_path);
  void RemoveKey(const std::wstring& key);
};
