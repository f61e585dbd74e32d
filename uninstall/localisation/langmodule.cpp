#include "localisation/langmodule.h"

#include "base/product.h"
#include "base/text.h"
#include "base/winver.h"
#include "filesystem/fileops.h"
#include "filesystem/path.h"
#include "settings/registry.h"

namespace {

constexpr wchar_t kLanguageDll[] = L"obxlng.dll";
constexpr wchar_t kGeneralKey[] = OBX_PROGRAM_KEY L"\\General";
constexpr wchar_t kLanguageFolderValue[] = L"LanguageFolder";

// Patched to "LngFolder1" in builds with language folders. Volatile so that the text stays in
// the binary and the test below is made at run time.
volatile const char kLanguageFolderSwitch[] = "LngFolder0";

bool LanguageFolderEnabled() {
  for (unsigned i = 0; kLanguageFolderSwitch[i] != 0; i++)
    if (kLanguageFolderSwitch[i] == '1') return true;
  return false;
}

}  // namespace

LanguageModule languageModule;

void LanguageModule::Load(HINSTANCE instance, const wchar_t* path) {
  Free();
  wchar_t file[kPathSize];
  if (path != nullptr) {
    CopyText(file, path, kPathSize);
    SetName(file, kLanguageDll, kPathSize);
  } else {
    // Empty when the program's name does not fit: a bare name would be searched for.
    GetProgramFolderFile(kLanguageDll, file, kPathSize);
  }
  if (file[0] != 0) FindLocalizedFile(file, file, kPathSize);

  if (file[0] == 0)
    library.reset();
  else if (CanMapDllAsData())
    library.reset(LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE));
  else
    library.reset(LoadLibraryW(file));
  loaded = static_cast<bool>(library);
  resourceModule = loaded ? library.get() : instance;
  ownModule = instance;
}

void LanguageModule::Free() {
  if (!loaded) return;
  library.reset();
  resourceModule = ownModule;
  loaded = false;
}

void ResetLanguageModule() {
  languageModule.Free();
  languageModule.ownModule = languageModule.resourceModule = GetModuleHandleW(nullptr);
}

bool FindInLanguageFolder(const wchar_t* src, wchar_t* dst, unsigned size) {
  unsigned srcLength = TextLength(src);
  if (srcLength >= kPathSize - 1) return false;
  // Room for the folder and src's name within one path buffer.
  wchar_t folder[kPathSize] = {};
  if (!GetRawRegString(HKEY_CURRENT_USER, kGeneralKey, kLanguageFolderValue, folder,
                       kPathSize - srcLength))
    return false;

  wchar_t candidate[kPathSize];
  DWORD expanded = ExpandEnvironmentStringsW(folder, candidate, kPathSize);
  if (expanded == 0 || expanded > kPathSize) return false;
  AddEndSlash(candidate, kPathSize);
  AppendText(candidate, PointToName(src), kPathSize);
  if (!FileExist(candidate)) return false;
  CopyText(dst, candidate, size);
  return true;
}

void FindLocalizedFile(const wchar_t* src, wchar_t* dst, unsigned size) {
  if (dst != src) CopyText(dst, src, size);
  if (!LanguageFolderEnabled()) return;
  FindInLanguageFolder(src, dst, size);
}
