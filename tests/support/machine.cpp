#include "machine.h"

namespace {

constexpr wchar_t kLockName[] = L"Local\\ObxTestMachineState";
constexpr wchar_t kSessionManagerKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";
constexpr wchar_t kNtPrefix[] = L"\\??\\";
constexpr DWORD kLockTimeoutMs = 240000;

std::wstring DosForm(const std::wstring& name) {
  if (name.rfind(kNtPrefix, 0) == 0) return name.substr(4);
  if (!name.empty() && name[0] == L'!') return DosForm(name.substr(1));  // replace-existing mark
  return name;
}

}  // namespace

MachineStateLock::MachineStateLock() : mutex_(CreateMutexW(nullptr, FALSE, kLockName)) {
  // An abandoned lock (a crashed test) is still ours to take.
  if (mutex_) WaitForSingleObject(mutex_.get(), kLockTimeoutMs);
}

MachineStateLock::~MachineStateLock() {
  if (mutex_) ReleaseMutex(mutex_.get());
}

std::vector<PendingRename> ReadPendingRenames() {
  std::vector<PendingRename> renames;
  ScopedKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, key.put()) !=
      ERROR_SUCCESS)
    return renames;
  DWORD bytes = 0;
  if (RegQueryValueExW(key.get(), kPendingValue, nullptr, nullptr, nullptr, &bytes) !=
      ERROR_SUCCESS)
    return renames;
  std::vector<wchar_t> data(bytes / sizeof(wchar_t) + 2, 0);
  if (RegQueryValueExW(key.get(), kPendingValue, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(data.data()), &bytes) != ERROR_SUCCESS)
    return renames;
  // Pairs of strings: source, then target (empty for a deletion).
  std::vector<std::wstring> strings;
  size_t count = bytes / sizeof(wchar_t);
  for (size_t i = 0; i < count;) {
    std::wstring text(data.data() + i);
    strings.push_back(text);
    i += text.size() + 1;
  }
  for (size_t i = 0; i + 1 < strings.size(); i += 2)
    renames.push_back({DosForm(strings[i]), DosForm(strings[i + 1])});
  return renames;
}

bool IsPendingDeletion(const std::wstring& path) {
  for (const PendingRename& rename : ReadPendingRenames())
    if (rename.target.empty() &&
        CompareStringOrdinal(rename.source.c_str(), -1, path.c_str(), -1, TRUE) == CSTR_EQUAL)
      return true;
  return false;
}

PendingRenamesValue::~PendingRenamesValue() {
  if (!saved_) return;
  ScopedKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, key.put()) !=
      ERROR_SUCCESS)
    return;
  if (existed_)
    RegSetValueExW(key.get(), kPendingValue, 0, type_, data_.data(),
                   static_cast<DWORD>(data_.size()));
  else
    RegDeleteValueW(key.get(), kPendingValue);
}

bool PendingRenamesValue::Replace(DWORD type, const std::wstring& text) {
  ScopedKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, nullptr, 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
      ERROR_SUCCESS)
    return false;
  if (!saved_) {
    DWORD bytes = 0;
    existed_ = RegQueryValueExW(key.get(), kPendingValue, nullptr, &type_, nullptr, &bytes) ==
               ERROR_SUCCESS;
    data_.resize(bytes);
    if (existed_ && RegQueryValueExW(key.get(), kPendingValue, nullptr, &type_, data_.data(),
                                     &bytes) != ERROR_SUCCESS)
      return false;
    saved_ = true;
  }
  return RegSetValueExW(key.get(), kPendingValue, 0, type,
                        reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}
