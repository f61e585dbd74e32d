#include "bitness.h"

#include "base/owners.h"

bool KeyExistsInView(HKEY root, const std::wstring& subkey, REGSAM view) {
  ScopedKey key;
  return RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}
