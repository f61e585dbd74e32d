#include "integration/shellext.h"

#include <shlobj.h>
#include <windows.h>

#include "base/product.h"
#include "base/text.h"
#include "base/winver.h"
#include "filesystem/fileops.h"
#include "filesystem/path.h"
#include "integration/associations.h"
#include "settings/registry.h"

namespace {

constexpr wchar_t kModule32[] = L"obxext.dll";
constexpr wchar_t kModule64[] = L"obxext64.dll";
constexpr wchar_t kClassId32[] = L"{7C3E5A10-2B4D-11D2-8F1A-3A5C6E7D8F90}";
constexpr wchar_t kClassId64[] = L"{7C3E5A10-1B4D-11D2-8F1A-3A5C6E7D8F90}";
// The 32-bit module gives way to the 64-bit one on 64-bit Windows.
constexpr wchar_t kHandlerName[] = OBX_PRODUCT_NAME;
constexpr wchar_t kHandlerName32[] = OBX_PRODUCT_NAME L"32";

constexpr wchar_t kClassKey[] = L"CLSID\\%s";
constexpr wchar_t kServerKey[] = L"CLSID\\%s\\InProcServer32";
constexpr wchar_t kClassName[] = OBX_PRODUCT_NAME;
constexpr wchar_t kThreadingModel[] = L"ThreadingModel";
constexpr wchar_t kApartment[] = L"Apartment";
constexpr wchar_t kApprovedKey[] =
    L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
constexpr wchar_t kApprovedName[] = OBX_PRODUCT_NAME L" shell extension";

constexpr REGSAM kView64 = 0x0100;  // KEY_WOW64_64KEY
constexpr unsigned kKeySize = 1024;

// What a handler key's name is formatted with, and what its default value holds.
enum class KeyName { kClassId, kHandler };
enum class KeyData { kEmpty, kClassId };

struct HandlerKey {
  const wchar_t* format;
  KeyName name;
  KeyData data;
};

// Written whenever the extension is wanted, in this order.
constexpr HandlerKey kHandlerKeys[] = {
    {OBX_OBX_TYPE L"\\shellex\\PropertySheetHandlers\\%s", KeyName::kClassId, KeyData::kEmpty},
    {OBX_ZIP_TYPE L"\\shellex\\PropertySheetHandlers\\%s", KeyName::kClassId, KeyData::kEmpty},
    {L"exefile\\shellex\\PropertySheetHandlers\\%s", KeyName::kClassId, KeyData::kEmpty},
    {OBX_OBX_TYPE L"\\shellex\\DropHandler", KeyName::kClassId, KeyData::kClassId},
    {OBX_ZIP_TYPE L"\\shellex\\DropHandler", KeyName::kClassId, KeyData::kClassId},
    {L"Folder\\shellex\\DragDropHandlers\\%s", KeyName::kHandler, KeyData::kClassId},
    {L"Drive\\shellex\\DragDropHandlers\\%s", KeyName::kHandler, KeyData::kClassId},
};

// The classic context menu; Windows 11 shows it only on request.
constexpr HandlerKey kMenuKeys[] = {
    {OBX_OBX_TYPE L"\\shellex\\ContextMenuHandlers\\%s", KeyName::kClassId, KeyData::kEmpty},
    {OBX_ZIP_TYPE L"\\shellex\\ContextMenuHandlers\\%s", KeyName::kClassId, KeyData::kEmpty},
    {L"*\\shellex\\ContextMenuHandlers\\%s", KeyName::kHandler, KeyData::kClassId},
    {L"Folder\\shellex\\ContextMenuHandlers\\%s", KeyName::kHandler, KeyData::kClassId},
    {L"lnkfile\\shellex\\ContextMenuHandlers\\%s", KeyName::kHandler, KeyData::kClassId},
};

void FormatKey(wchar_t* out, const HandlerKey& key, const wchar_t* classId,
               const wchar_t* handlerName) {
  FormatText(out, kKeySize, key.format, key.name == KeyName::kClassId ? classId : handlerName);
}

template <size_t N>
void WriteKeys(const HandlerKey (&keys)[N], const wchar_t* classId, const wchar_t* handlerName) {
  for (const HandlerKey& key : keys) {
    wchar_t path[kKeySize];
    FormatKey(path, key, classId, handlerName);
    SetRegString(HKEY_CLASSES_ROOT, path, nullptr,
                 key.data == KeyData::kClassId ? classId : L"");
  }
}

template <size_t N>
void DeleteKeys(const HandlerKey (&keys)[N], const wchar_t* classId, const wchar_t* handlerName) {
  for (const HandlerKey& key : keys) {
    wchar_t path[kKeySize];
    FormatKey(path, key, classId, handlerName);
    DeleteRegKey(HKEY_CLASSES_ROOT, path);
  }
}

void DeleteClassKeys(const wchar_t* classId) {
  wchar_t path[kKeySize];
  FormatText(path, kKeySize, kServerKey, classId);
  DeleteRegKey(HKEY_CLASSES_ROOT, path);
  FormatText(path, kKeySize, kClassKey, classId);
  DeleteRegKey(HKEY_CLASSES_ROOT, path);
}

void WriteClassKeys(const wchar_t* classId, const wchar_t* modulePath) {
  wchar_t path[kKeySize];
  FormatText(path, kKeySize, kClassKey, classId);
  SetRegString(HKEY_CLASSES_ROOT, path, nullptr, kClassName);
  FormatText(path, kKeySize, kServerKey, classId);
  SetRegString(HKEY_CLASSES_ROOT, path, nullptr, modulePath);
  SetRegString(HKEY_CLASSES_ROOT, path, kThreadingModel, kApartment);
}

bool ClassicMenuWanted(const IntegrationOptions& options) {
  return !IsWindows11() || options.legacyMenu;
}

}  // namespace

REGSAM RegViewFor(bool want64) { return want64 && IsWow64() ? kView64 : 0; }

void RegisterShellExtension(const IntegrationOptions& options, const wchar_t* moduleName,
                            const wchar_t* classId, const wchar_t* handlerName, bool view64) {
  if (!options.shellExt) {
    DeleteClassKeys(classId);
    {
      ScopedRegView view(RegViewFor(view64));
      DeleteClassKeys(classId);
    }
    DeleteKeys(kHandlerKeys, classId, handlerName);
    DeleteRegValue(HKEY_LOCAL_MACHINE, kApprovedKey, classId);
    DeleteKeys(kMenuKeys, classId, handlerName);
    return;
  }

  wchar_t modulePath[kPathSize];
  GetProgramFolderFile(moduleName, modulePath, kPathSize);
  // Without the module there is no class to register, but the handler keys still go in, so a
  // module copied in later works without another setup.
  if (FileExist(modulePath)) {
    ScopedRegView view(RegViewFor(view64));
    WriteClassKeys(classId, modulePath);
  }
  WriteKeys(kHandlerKeys, classId, handlerName);
  SetRegString(HKEY_LOCAL_MACHINE, kApprovedKey, classId, kApprovedName);
  // Switching to the new Windows 11 menu takes back a classic registration made earlier.
  if (ClassicMenuWanted(options))
    WriteKeys(kMenuKeys, classId, handlerName);
  else
    DeleteKeys(kMenuKeys, classId, handlerName);
}

void RegisterShellExtensions(bool remove, const IntegrationOptions& options) {
  bool wow64 = IsWow64();
  RegisterShellExtension(options, kModule32, kClassId32, wow64 ? kHandlerName32 : kHandlerName,
                         false);
  if (wow64) RegisterShellExtension(options, kModule64, kClassId64, kHandlerName, true);
  RegisterDefaultPrograms(remove);
}
