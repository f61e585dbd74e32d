#include "integration/options.h"

#include "base/convert.h"
#include "base/product.h"
#include "base/text.h"
#include "base/winver.h"
#include "integration/associations.h"
#include "localisation/dialogs.h"
#include "resources/resource.h"
#include "settings/registry.h"

namespace {

constexpr wchar_t kSetValue[] = L"Set";
constexpr wchar_t kLinksKey[] = L"Setup\\Links";
constexpr wchar_t kDesktopValue[] = L"Desktop";
constexpr wchar_t kStartMenuValue[] = L"StartMenu";
constexpr wchar_t kProgramsValue[] = L"Programs";
constexpr wchar_t kSetupKey[] = L"Setup";
constexpr wchar_t kShellExtValue[] = L"ShellExt";
constexpr wchar_t kCascadedMenuValue[] = L"CascadedMenu";
constexpr wchar_t kMenuIconsValue[] = L"MenuIcons";
constexpr wchar_t kLegacyMenuValue[] = L"LegacyMenu";
constexpr wchar_t kNewContextMenuValue[] = L"NewContextMenu";

constexpr unsigned kRowKeySize = 50;
constexpr unsigned kExtensionSize = 50;
constexpr unsigned kForeignTypeSize = 80;
constexpr unsigned kJarRow = 11;
constexpr unsigned kIsoRow = 12;

// The row's first extension, without the aliases that follow it.
void PrimaryExtension(unsigned row, wchar_t* out, unsigned size) {
  const wchar_t* aliases = ArchiveTypeTable[row].aliases;
  unsigned length = 1;
  while (aliases[length] && aliases[length] != L'.') length++;
  CopyText(out, aliases, length + 1 < size ? length + 1 : size);
}

void RowKey(unsigned row, wchar_t* out, unsigned size) {
  wchar_t primary[kExtensionSize];
  PrimaryExtension(row, primary, kExtensionSize);
  FormatText(out, size, kExtensionSetupKeyFormat, primary);
}

bool ReadFlag(const wchar_t* subkey, const wchar_t* name, DWORD defaultValue) {
  return GetSettingDword(subkey, name, defaultValue) != 0;
}

void WriteFlag(const wchar_t* subkey, const wchar_t* name, bool value) {
  SetSettingDword(subkey, name, value ? 1 : 0);
}

// ".jar" stays on only while the product owns it; ".iso" goes off once another program has it.
bool KeepForeignClaimedRow(unsigned row, bool stored) {
  wchar_t primary[kExtensionSize];
  PrimaryExtension(row, primary, kExtensionSize);
  if (IsOwnedExtension(primary)) return stored;
  wchar_t type[kForeignTypeSize];
  GetRegString(HKEY_CLASSES_ROOT, primary, L"", type, L"", kForeignTypeSize);
  if (type[0]) return false;
  return row == kJarRow ? false : stored;
}

struct FlagControl {
  unsigned controlId;
  bool IntegrationOptions::*field;
};

constexpr FlagControl kFlagControls[] = {
    {IDC_LINKDESKTOP, &IntegrationOptions::linkDesktop},
    {IDC_LINKSTARTMENU, &IntegrationOptions::linkStartMenu},
    {IDC_LINKPROGRAMS, &IntegrationOptions::linkPrograms},
    {IDC_SHELLEXT, &IntegrationOptions::shellExt},
    {IDC_SHELLCASCADED, &IntegrationOptions::cascadedMenu},
    {IDC_SHELLICONS, &IntegrationOptions::menuIcons},
    {IDC_SHELLLEGACYMENU, &IntegrationOptions::legacyMenu},
};

void Check(HWND dialog, unsigned id, bool checked) {
  CheckDlgButton(dialog, static_cast<int>(id), checked ? BST_CHECKED : BST_UNCHECKED);
}

void Enable(HWND dialog, unsigned id, bool enabled) {
  HWND control = GetDlgItem(dialog, static_cast<int>(id));
  if (control) EnableWindow(control, enabled);
}

// The field a preset letter sets, or null for a letter the preset does not know.
bool* PresetField(wchar_t letter, IntegrationOptions& options) {
  switch (letter) {
    case L'C': return &options.cascadedMenu;
    case L'D': return &options.linkDesktop;
    case L'I': return &options.menuIcons;
    case L'M': return &options.linkStartMenu;
    case L'P': return &options.linkPrograms;
    case L'S': return &options.shellExt;
    default: return nullptr;
  }
}

}  // namespace

// ToggleAllAssociations walks the boxes by id: one box per archive type, without a gap.
static_assert(IDC_ASSOC001 - IDC_ASSOCOBX + 1 == kArchiveTypeCount);

const ArchiveType ArchiveTypeTable[kArchiveTypeCount] = {
    {L".obx", IDC_ASSOCOBX},
    {L".zip", IDC_ASSOCZIP},
    {L".cab", IDC_ASSOCCAB},
    {L".arj", IDC_ASSOCARJ},
    {L".lz.tlz", IDC_ASSOCLZ},
    {L".lzh.lha", IDC_ASSOCLZH},
    {L".7z", IDC_ASSOC7Z},
    {L".tar", IDC_ASSOCTAR},
    {L".gz.tgz", IDC_ASSOCGZ},
    {L".uue.xxe.uu", IDC_ASSOCUUE},
    {L".bz2.tbz2.bz.tbz", IDC_ASSOCBZ2},
    {L".jar", IDC_ASSOCJAR},
    {L".iso", IDC_ASSOCISO},
    {L".z.taz", IDC_ASSOCZ},
    {L".xz.txz", IDC_ASSOCXZ},
    {L".zipx", IDC_ASSOCZIPX},
    {L".zst.tzst", IDC_ASSOCZST},
    {L".001", IDC_ASSOC001},
};

void LoadIntegrationOptions(IntegrationOptions& options) {
  for (unsigned row = 0; row < kArchiveTypeCount; row++) {
    wchar_t key[kRowKeySize];
    RowKey(row, key, kRowKeySize);
    bool wanted = ReadFlag(key, kSetValue, 1);
    if (row == kJarRow || row == kIsoRow) wanted = KeepForeignClaimedRow(row, wanted);
    options.associate[row] = wanted;
  }
  options.linkDesktop = ReadFlag(kLinksKey, kDesktopValue, 0);
  options.linkStartMenu = ReadFlag(kLinksKey, kStartMenuValue, 0);
  options.linkPrograms = ReadFlag(kLinksKey, kProgramsValue, 1);
  options.shellExt = ReadFlag(kSetupKey, kShellExtValue, 1);
  options.cascadedMenu = ReadFlag(kSetupKey, kCascadedMenuValue, IsWindows11() ? 1 : 0);
  options.menuIcons = ReadFlag(kSetupKey, kMenuIconsValue, 1);
  options.legacyMenu = ReadFlag(kSetupKey, kLegacyMenuValue, 0);
  // The Windows 11 menu shows one entry per program, so a flat menu is only kept on request.
  if (IsWindows11() && !ReadFlag(kSetupKey, kNewContextMenuValue, 0)) options.cascadedMenu = true;
}

void SaveIntegrationOptions(const IntegrationOptions& options) {
  for (unsigned row = 0; row < kArchiveTypeCount; row++) {
    wchar_t key[kRowKeySize];
    RowKey(row, key, kRowKeySize);
    WriteFlag(key, kSetValue, options.associate[row]);
  }
  WriteFlag(kLinksKey, kDesktopValue, options.linkDesktop);
  WriteFlag(kLinksKey, kStartMenuValue, options.linkStartMenu);
  WriteFlag(kLinksKey, kProgramsValue, options.linkPrograms);
  WriteFlag(kSetupKey, kShellExtValue, options.shellExt);
  WriteFlag(kSetupKey, kCascadedMenuValue, options.cascadedMenu);
  WriteFlag(kSetupKey, kMenuIconsValue, options.menuIcons);
  WriteFlag(kSetupKey, kLegacyMenuValue, options.legacyMenu);
}

void ApplyInitString(const wchar_t* initString, IntegrationOptions& options) {
  if (!initString) return;
  const wchar_t* p = initString;
  // A letter needs a following character; a lone last letter ends the preset.
  while (p[0] && p[1]) {
    wchar_t letter = AsciiUpper(p[0]);
    if (letter == L'A') {
      p++;
      for (unsigned k = 0; k < kAssociateEntries && *p >= L'0' && *p <= L'9'; k++, p++)
        options.associate[k] = *p == L'1';
      continue;
    }
    if (bool* field = PresetField(letter, options)) *field = p[1] == L'1';
    p += 2;
  }
}

void ShowOptionsInDialog(HWND dialog, const IntegrationOptions& options) {
  for (unsigned row = 0; row < kArchiveTypeCount; row++)
    Check(dialog, ArchiveTypeTable[row].controlId, options.associate[row]);
  for (const FlagControl& flag : kFlagControls) Check(dialog, flag.controlId, options.*flag.field);
  // The record decides, so a refresh after clicking the shell check box follows the new choice.
  Enable(dialog, IDC_SHELLCASCADED, options.shellExt);
  Enable(dialog, IDC_SHELLICONS, options.shellExt);
  Enable(dialog, IDC_SHELLLEGACYMENU, options.shellExt && IsWindows11());
}

void ReadOptionsFromDialog(HWND dialog, IntegrationOptions& options) {
  for (unsigned row = 0; row < kArchiveTypeCount; row++)
    options.associate[row] = IsChecked(dialog, ArchiveTypeTable[row].controlId);
  for (const FlagControl& flag : kFlagControls)
    options.*flag.field = IsChecked(dialog, flag.controlId);
}

void ToggleAllAssociations(HWND dialog) {
  bool anyUnchecked = false;
  for (unsigned id = IDC_ASSOCOBX; id <= IDC_ASSOC001 && !anyUnchecked; id++)
    anyUnchecked = GetDlgItem(dialog, static_cast<int>(id)) && !IsChecked(dialog, id);
  for (unsigned id = IDC_ASSOCOBX; id <= IDC_ASSOC001; id++) Check(dialog, id, anyUnchecked);
}
