// What the shell extension registration writes for one module on a clean registry, as
// "key path|value name" -> data in the form of DumpRegistry, for exact comparisons.
#pragma once

#include <map>
#include <string>

#include "expectednames.h"
#include "filesystem/secure.h"
#include "uiauto.h"

// module: the module file beside the test program, or null when its class keys are not written.
inline void AddModuleKeys(std::map<std::wstring, std::wstring>& keys, const std::wstring& classId,
                          const std::wstring& handler, const wchar_t* module, bool classicMenu) {
  if (module) {
    keys[L"CLSID\\" + classId + L"|@"] = L"sz:Ombrix";
    keys[L"CLSID\\" + classId + L"\\InProcServer32|@"] = L"sz:" + BuildFolderFile(module);
    keys[L"CLSID\\" + classId + L"\\InProcServer32|ThreadingModel"] = L"sz:Apartment";
  }
  for (const wchar_t* type : {L"Ombrix", L"Ombrix.ZIP", L"exefile"})
    keys[std::wstring(type) + L"\\shellex\\PropertySheetHandlers\\" + classId + L"|@"] = L"sz:";
  keys[L"Ombrix\\shellex\\DropHandler|@"] = L"sz:" + classId;
  keys[L"Ombrix.ZIP\\shellex\\DropHandler|@"] = L"sz:" + classId;
  keys[L"Folder\\shellex\\DragDropHandlers\\" + handler + L"|@"] = L"sz:" + classId;
  keys[L"Drive\\shellex\\DragDropHandlers\\" + handler + L"|@"] = L"sz:" + classId;
  if (!classicMenu) return;
  keys[L"Ombrix\\shellex\\ContextMenuHandlers\\" + classId + L"|@"] = L"sz:";
  keys[L"Ombrix.ZIP\\shellex\\ContextMenuHandlers\\" + classId + L"|@"] = L"sz:";
  for (const wchar_t* type : {L"*", L"Folder", L"lnkfile"})
    keys[std::wstring(type) + L"\\shellex\\ContextMenuHandlers\\" + handler + L"|@"] =
        L"sz:" + classId;
}

// The class keys of one module, as listed from its "CLSID\{id}" key.
inline std::map<std::wstring, std::wstring> ClassKeys(const wchar_t* module) {
  return {{L"|@", L"sz:Ombrix"},
          {L"InProcServer32|@", L"sz:" + BuildFolderFile(module)},
          {L"InProcServer32|ThreadingModel", L"sz:Apartment"}};
}

// Wine writes keys opened with KEY_WOW64_64KEY past the scratch redirection, into the prefix's
// real registry; tests that let the code select that view remove what it may have put there.
inline void RemoveRealView64Keys() {
  for (const wchar_t* id : {kClassId64, kClassId32}) {
    std::wstring key = std::wstring(L"CLSID\\") + id;
    RegDeleteKeyExW(HKEY_CLASSES_ROOT, (key + L"\\InProcServer32").c_str(), KEY_WOW64_64KEY, 0);
    RegDeleteKeyExW(HKEY_CLASSES_ROOT, key.c_str(), KEY_WOW64_64KEY, 0);
  }
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kAppPathsKey, KEY_WOW64_64KEY, 0);
}

// That happens through the classes root only: an elevated run addresses the machine's classes
// below HKEY_LOCAL_MACHINE, where Wine keeps both views in the scratch registry. Tests of the
// views therefore run as a process without elevation.
inline void UseClassesRootViews() {
  static const bool notElevated = false;
  SetElevationOverride(&notElevated);
}
