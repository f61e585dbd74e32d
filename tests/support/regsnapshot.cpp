#include "regsnapshot.h"

#include <algorithm>
#include <cwctype>

#include "base/owners.h"

namespace {

std::wstring Upper(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](wchar_t ch) { return static_cast<wchar_t>(std::towupper(ch)); });
  return text;
}

std::wstring Same(std::wstring text) { return text; }

// caseOf: the spelling names are kept in.
void ReadTree(HKEY key, const std::wstring& relative, REGSAM view,
              std::wstring (*caseOf)(std::wstring), RegSnapshot& out) {
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
    values[caseOf(name)] = data;
  }
  for (DWORD index = 0;; index++) {
    wchar_t name[256];
    DWORD nameLength = 256;
    if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    ScopedKey child;
    if (RegOpenKeyExW(key, name, 0, KEY_READ | view, child.put()) != ERROR_SUCCESS) continue;
    ReadTree(child.get(), relative.empty() ? caseOf(name) : relative + L"\\" + caseOf(name), view,
             caseOf, out);
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

RegSnapshot ReadRoot(HKEY root, const std::wstring& subkey, REGSAM view,
                     std::wstring (*caseOf)(std::wstring)) {
  RegSnapshot snapshot;
  ScopedKey key;
  if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS)
    ReadTree(key.get(), L"", view, caseOf, snapshot);
  return snapshot;
}

}  // namespace

RegSnapshot TakeRegSnapshot(HKEY root, const std::wstring& subkey, REGSAM view) {
  return ReadRoot(root, subkey, view, Upper);
}

std::map<std::wstring, std::wstring> DumpRegistry(HKEY root, const std::wstring& subkey,
                                                  REGSAM view) {
  RegSnapshot tree = ReadRoot(root, subkey, view, Same);
  std::map<std::wstring, std::wstring> out;
  for (const auto& [path, values] : tree) {
    auto next = tree.upper_bound(path + L"\\");
    bool hasSubkeys = next != tree.end() && next->first.compare(0, path.size() + 1, path + L"\\") == 0;
    if (values.empty() && !hasSubkeys && !path.empty()) out[path + L"|"] = L"(empty)";
    for (const auto& [name, data] : values) {
      std::wstring shown = L"type" + std::to_wstring(data.type);
      if (data.type == REG_DWORD && data.bytes.size() >= sizeof(DWORD))
        shown = L"dword:" + std::to_wstring(*reinterpret_cast<const DWORD*>(data.bytes.data()));
      else if (data.type == REG_SZ)
        shown = L"sz:" + std::wstring(reinterpret_cast<const wchar_t*>(data.bytes.data()),
                                      wcsnlen(reinterpret_cast<const wchar_t*>(data.bytes.data()),
                                              data.bytes.size() / sizeof(wchar_t)));
      out[path + L"|" + (name.empty() ? L"@" : name)] = shown;
    }
  }
  return out;
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
