#include "regsnapshot.h"

#include <algorithm>
#include <cwctype>

#include "filesystem/owners.h"

namespace {

std::wstring Upper(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](wchar_t ch) { return static_cast<wchar_t>(std::towupper(ch)); });
  return text;
}

void ReadTree(HKEY key, const std::wstring& relative, RegSnapshot& out) {
  auto& values = out[relative];
  for (DWORD index = 0;; index++) {
    wchar_t name[16384];
    DWORD nameLength = 16384, type = 0, bytes = 0;
    if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &bytes) !=
        ERROR_SUCCESS)
      break;
    RegValueData data;
    data.type = type;
    data.bytes.resize(bytes);
    nameLength = 16384;
    RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data.bytes.data(), &bytes);
    values[Upper(name)] = data;
  }
  for (DWORD index = 0;; index++) {
    wchar_t name[256];
    DWORD nameLength = 256;
    if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    ScopedKey child;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, child.put()) != ERROR_SUCCESS) continue;
    ReadTree(child.get(), relative.empty() ? Upper(name) : relative + L"\\" + Upper(name), out);
  }
}

std::wstring Describe(const RegValueData& data) {
  wchar_t head[32];
  swprintf(head, 32, L"type %lu, ", data.type);
  std::wstring text = head;
  if (data.type == REG_SZ || data.type == REG_EXPAND_SZ) {
    text += L"\"";
    text.append(reinterpret_cast<const wchar_t*>(data.bytes.data()), data.bytes.size() / 2);
    text += L"\"";
  } else {
    text += std::to_wstring(data.bytes.size()) + L" bytes";
  }
  return text;
}

}  // namespace

RegSnapshot TakeRegSnapshot(HKEY root, const std::wstring& subkey) {
  RegSnapshot snapshot;
  ScopedKey key;
  if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS)
    ReadTree(key.get(), L"", snapshot);
  return snapshot;
}

std::wstring DescribeRegDifferences(const RegSnapshot& before, const RegSnapshot& after) {
  std::wstring text;
  for (const auto& [path, values] : before) {
    auto found = after.find(path);
    if (found == after.end()) {
      text += L"- key [" + path + L"]\n";
      continue;
    }
    for (const auto& [name, data] : values) {
      auto other = found->second.find(name);
      if (other == found->second.end())
        text += L"- [" + path + L"] " + name + L" = " + Describe(data) + L"\n";
      else if (!(other->second == data))
        text += L"~ [" + path + L"] " + name + L": " + Describe(data) + L" -> " +
                Describe(other->second) + L"\n";
    }
    for (const auto& [name, data] : found->second)
      if (!values.count(name)) text += L"+ [" + path + L"] " + name + L" = " + Describe(data) + L"\n";
  }
  for (const auto& [path, values] : after)
    if (!before.count(path)) text += L"+ key [" + path + L"]\n";
  return text;
}
