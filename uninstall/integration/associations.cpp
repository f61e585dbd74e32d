#include "integration/associations.h"

#include <shlobj.h>

#include "base/convert.h"
#include "base/product.h"
#include "base/text.h"
#include "base/winver.h"
#include "filesystem/path.h"
#include "integration/handlerbackup.h"
#include "integration/templates.h"
#include "localisation/messages.h"
#include "settings/registry.h"

namespace {

constexpr wchar_t kRevExtension[] = L".rev";
constexpr wchar_t kOpenCommandFormat[] = L"\"%s\" \"%%1\"";
constexpr wchar_t kOpenCommandKeyFormat[] = L"%s\\shell\\open\\command";
constexpr wchar_t kDefaultIconKeyFormat[] = L"%s\\DefaultIcon";
constexpr wchar_t kIconFormat[] = L"%s,%u";
constexpr wchar_t kVolumeFormat[] = L".o%02u";
constexpr wchar_t kRegisteredAppsKey[] = L"\\Software\\RegisteredApplications";
constexpr wchar_t kCapabilitiesPath[] = OBX_PROGRAM_KEY L"\\Capabilities";
constexpr wchar_t kCapabilitiesKey[] = L"Capabilities";
constexpr wchar_t kAppDescriptionValue[] = L"ApplicationDescription";
constexpr wchar_t kFileAssociationsKey[] = L"Capabilities\\FileAssociations";

constexpr unsigned kOwnedTypeSize = 80;
constexpr unsigned kExtensionSize = 50;
constexpr unsigned kVolumeSize = 8;
constexpr unsigned kVolumesTaken = 30;
constexpr unsigned kVolumesReleased = 100;
constexpr unsigned kKeySize = 1024;

bool IsProductType(const wchar_t* type) {
  return CompareNoCase(type, kObxType) == 0 || CompareNoCase(type, kZipType) == 0;
}

void VolumeName(unsigned n, wchar_t* out) { FormatText(out, kVolumeSize, kVolumeFormat, n); }

bool IsRecoveryExtensionOwned() {
  wchar_t type[kOwnedTypeSize];
  GetRegString(HKEY_CLASSES_ROOT, kRevExtension, L"", type, L"", kOwnedTypeSize);
  return CompareNoCase(type, kRevType) == 0;
}

// Points a key at a product type, having saved what it held unless the product owns it already.
// A key whose previous handler cannot be saved is left to its owner, and the run says so.
void TakeOverKey(const wchar_t* key, const wchar_t* type, bool owned) {
  if (owned) {
    MoveLegacyBackup(key);
  } else if (!SaveKeyHandler(key)) {
    NoteUnsavedHandler();
    return;
  }
  SetRegString(HKEY_CLASSES_ROOT, key, L"", type);
}

// Gives a key back while it names the product; one that another program took since stays as that
// program left it, unless it is an empty key that a run of the product created and left.
void ReleaseKey(const wchar_t* key, bool owned, bool existedIfUnsaved) {
  if (owned)
    RestoreKeyHandler(key, existedIfUnsaved);
  else
    RemoveCreatedEmptyKey(key);
}

void TakeOver(const wchar_t* ext, bool newFileWanted, bool isObxRow, bool isZipRow) {
  bool owned = IsOwnedExtension(ext);
  TakeOverKey(ext, isZipRow ? kZipType : kObxType, owned);
  if (!IsOwnedExtension(ext)) return;
  if (isObxRow) {
    for (unsigned n = 0; n < kVolumesTaken; n++) {
      wchar_t volume[kVolumeSize];
      VolumeName(n, volume);
      TakeOverKey(volume, kObxType, IsOwnedExtension(volume));
    }
  }
  if (!isObxRow && !isZipRow) return;
  if (newFileWanted)
    InstallNewFileTemplate(ext, isObxRow);
  else
    RestoreNewFileHandler(ext, isObxRow, true);
}

// Every entry that still names the product goes back, also when another program has taken the
// extension itself since; the extension's type goes back last: while it still names the product,
// an interrupted release is finished by the next run.
void Release(const wchar_t* ext, bool isObxRow, bool isZipRow) {
  if (isObxRow || isZipRow) RestoreNewFileHandler(ext, isObxRow, IsOwnedExtension(ext));
  if (isObxRow) {
    // Earlier versions took volumes over without a backup and up to .o99; a volume that still
    // names the product is given back, one that another program has is left alone.
    for (unsigned n = 0; n < kVolumesReleased; n++) {
      wchar_t volume[kVolumeSize];
      VolumeName(n, volume);
      ReleaseKey(volume, IsOwnedExtension(volume), false);
    }
  }
  ReleaseKey(ext, IsOwnedExtension(ext), true);
}

void WriteOpenCommand(const wchar_t* progId, const wchar_t* command) {
  wchar_t key[kKeySize];
  FormatText(key, kKeySize, kOpenCommandKeyFormat, progId);
  SetRegString(HKEY_CLASSES_ROOT, key, L"", command);
}

// An icon that a user or a theme has chosen is kept.
void WriteDefaultIcon(const wchar_t* progId, const wchar_t* program, unsigned index) {
  wchar_t key[kKeySize];
  FormatText(key, kKeySize, kDefaultIconKeyFormat, progId);
  wchar_t icon[kPathSize];
  GetRegString(HKEY_CLASSES_ROOT, key, L"", icon, L"", kPathSize);
  if (icon[0]) return;
  FormatText(icon, kPathSize, kIconFormat, program, index);
  SetRegString(HKEY_CLASSES_ROOT, key, L"", icon);
}

// Calls visit(alias, row) for every alias of every row, each alias cut at the next dot.
template <typename Visit>
void ForEachAlias(Visit visit) {
  for (unsigned row = 0; row < kArchiveTypeCount; row++) {
    for (const wchar_t* alias = ArchiveTypeTable[row].aliases; *alias;) {
      wchar_t ext[kExtensionSize];
      unsigned length = 1;
      while (alias[length] && alias[length] != L'.') length++;
      CopyText(ext, alias, length + 1 < kExtensionSize ? length + 1 : kExtensionSize);
      visit(ext, row);
      alias += length;
    }
  }
}

}  // namespace

void GetMainProgramPath(wchar_t* out, unsigned size) {
  GetProgramFolderFile(kMainProgramName, out, size);
}

bool IsOwnedExtension(const wchar_t* ext) {
  wchar_t type[kOwnedTypeSize];
  GetRegString(HKEY_CLASSES_ROOT, ext, L"", type, L"", kOwnedTypeSize);
  return IsProductType(type);
}

void AssociateExtension(const wchar_t* ext, bool associate, bool shellExt, bool isObxRow,
                        bool isZipRow) {
  bool newFileWanted = NewFileWanted(shellExt, isObxRow, isZipRow);
  if (associate)
    TakeOver(ext, newFileWanted, isObxRow, isZipRow);
  else
    Release(ext, isObxRow, isZipRow);
}

void AssociateAll(const IntegrationOptions& options) {
  ForEachAlias([&options](const wchar_t* ext, unsigned row) {
    AssociateExtension(ext, options.associate[row], options.shellExt, row == kObxRow,
                       row == kZipRow);
  });
}

bool RegisterProgIds() {
  wchar_t program[kPathSize], command[kPathSize];
  GetMainProgramPath(program, kPathSize);
  FormatText(command, kPathSize, kOpenCommandFormat, program);

  if (SetRegString(HKEY_CLASSES_ROOT, kObxType, L"", GetMsg(IDS_OMBRIXARC)) == ERROR_ACCESS_DENIED)
    return false;
  WriteOpenCommand(kObxType, command);
  WriteDefaultIcon(kObxType, program, 0);

  SetRegString(HKEY_CLASSES_ROOT, kZipType, L"", GetMsg(IDS_OMBRIXZIPARC));
  WriteOpenCommand(kZipType, command);
  WriteDefaultIcon(kZipType, program, 0);

  TakeOverKey(kRevExtension, kRevType, IsRecoveryExtensionOwned());
  SetRegString(HKEY_CLASSES_ROOT, kRevType, L"", GetMsg(IDS_OBXRECVOL));
  WriteOpenCommand(kRevType, command);
  WriteDefaultIcon(kRevType, program, 1);
  return true;
}

void ReleaseRecoveryExtension() {
  // Earlier versions saved nothing for ".rev"; the product created it as far as anyone knows.
  ReleaseKey(kRevExtension, IsRecoveryExtensionOwned(), false);
}

void RegisterDefaultPrograms(bool remove) {
  bool vistaOrLater = GetWindowsVersion() >= kWindowsVista;
  if (remove) {
    if (vistaOrLater) DeleteRegValue(HKEY_LOCAL_MACHINE, kRegisteredAppsKey, kProductName);
    DeleteRegTree(HKEY_LOCAL_MACHINE, L"");
    return;
  }
  if (!vistaOrLater) return;
  SetRegString(HKEY_LOCAL_MACHINE, kRegisteredAppsKey, kProductName, kCapabilitiesPath);
  SetRegString(HKEY_LOCAL_MACHINE, kCapabilitiesKey, kAppDescriptionValue, kProductName);
  ForEachAlias([](const wchar_t* ext, unsigned row) {
    SetRegString(HKEY_LOCAL_MACHINE, kFileAssociationsKey, ext,
                 row == kZipRow ? kZipType : kObxType);
  });
}
