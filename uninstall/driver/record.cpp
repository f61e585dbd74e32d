#include "driver/record.h"

#include <windows.h>

#include "base/product.h"
#include "base/convert.h"
#include "base/text.h"
#include "driver/filelist.h"
#include "filesystem/fileops.h"
#include "filesystem/findfile.h"
#include "filesystem/path.h"
#include "localisation/messages.h"
#include "settings/registry.h"
#include "settings/store.h"

namespace {

constexpr wchar_t kDisplayNameValue[] = L"DisplayName";
constexpr wchar_t kDisplayVersionValue[] = L"DisplayVersion";
constexpr wchar_t kVersionMajorValue[] = L"VersionMajor";
constexpr wchar_t kVersionMinorValue[] = L"VersionMinor";
constexpr wchar_t kUninstallStringValue[] = L"UninstallString";
constexpr wchar_t kQuietUninstallStringValue[] = L"QuietUninstallString";
constexpr wchar_t kDisplayIconValue[] = L"DisplayIcon";
constexpr wchar_t kInstallLocationValue[] = L"InstallLocation";
constexpr wchar_t kNoModifyValue[] = L"NoModify";
constexpr wchar_t kNoRepairValue[] = L"NoRepair";
constexpr wchar_t kLanguageValue[] = L"Language";
constexpr wchar_t kPublisherValue[] = L"Publisher";
constexpr wchar_t kEstimatedSizeValue[] = L"EstimatedSize";
constexpr wchar_t kInstallDateValue[] = L"InstallDate";

// Every value this unit writes into the record; what an installation elsewhere left besides goes
// before the record is written (the settings store's value is written again after).
constexpr const wchar_t* kRecordValues[] = {
    kDisplayNameValue,     kDisplayVersionValue, kVersionMajorValue, kVersionMinorValue,
    kUninstallStringValue, kQuietUninstallStringValue, kDisplayIconValue, kInstallLocationValue,
    kNoModifyValue,        kNoRepairValue,       kLanguageValue,     kPublisherValue,
    kEstimatedSizeValue,   kInstallDateValue};
constexpr unsigned kValueNameSize = 256;

constexpr wchar_t kPublisher[] = L"" OBX_PUBLISHER;
constexpr wchar_t kQuietSwitch[] = L" /S";

constexpr int kVersionMajor = OBX_VERSION_MAJOR;
constexpr int kVersionMinor = OBX_VERSION_MINOR;

constexpr unsigned kLabelPieceSize = 100;
// Room for a full path in quotes and the quiet switch.
constexpr unsigned kCommandSize = kPathSize + 8;

void SetRecordString(const wchar_t* name, const wchar_t* text) {
  SetRegString(HKEY_LOCAL_MACHINE, kUninstallRecordKey, name, text);
}

void SetRecordDword(const wchar_t* name, DWORD value) {
  SetRegDword(HKEY_LOCAL_MACHINE, kUninstallRecordKey, name, value);
}

bool IsRecordValue(const wchar_t* name) {
  for (const wchar_t* known : kRecordValues)
    if (CompareNoCase(name, known) == 0) return true;
  return false;
}

// The values a record of another installation (an older version elsewhere) has and this one
// does not write; a name too long for the buffer is no value of any version.
void DeleteForeignRecordValues() {
  wchar_t name[kValueNameSize];
  for (DWORD index = 0;;) {
    DWORD error = EnumRegValue(HKEY_LOCAL_MACHINE, kUninstallRecordKey, index, name,
                               kValueNameSize, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) return;
    if (error != ERROR_SUCCESS || IsRecordValue(name) ||
        DeleteRegValue(HKEY_LOCAL_MACHINE, kUninstallRecordKey, name) != ERROR_SUCCESS)
      index++;
  }
}

}  // namespace

const wchar_t kUninstallRecordKey[] =
    L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ombrix archiver";

bool RecordNamesProgram(const wchar_t* program) {
  wchar_t command[kCommandSize];
  if (!GetRegString(HKEY_LOCAL_MACHINE, kUninstallRecordKey, kUninstallStringValue, command, L"",
                    kCommandSize))
    return false;
  wchar_t* named = command;
  unsigned length = TextLength(command);
  if (length >= 2 && command[0] == L'"' && command[length - 1] == L'"') {
    command[length - 1] = 0;
    named++;
  }
  return CompareNoCase(named, program) == 0;
}

void AppendVersionLabel(wchar_t* text, unsigned capacity) {
  if (capacity == 0) return;
  wchar_t piece[kLabelPieceSize];
  if (text[0] != 0) AppendText(text, L" ", capacity);
  FormatText(piece, kLabelPieceSize, L"%d.%02d", kVersionMajor, kVersionMinor);
  AppendText(text, piece, capacity);
  // The label comes from an editable language file: it is an argument, never a format.
  FormatText(piece, kLabelPieceSize, L" (%s)", GetMsg(IDS_32BIT));
  AppendText(text, piece, capacity);
}

unsigned long long ListedSizeKiB(const wchar_t* folder) {
  wchar_t base[kPathSize], listPath[kPathSize], path[kPathSize];
  CopyText(base, folder, kPathSize);
  AddEndSlash(base, kPathSize);
  MakeName(base, kListFileName, listPath, kPathSize);
  FileList list;
  if (!ReadFileList(listPath, list)) return 0;
  unsigned long long bytes = 0;
  unsigned baseLength = TextLength(base);
  CheckedFolders checked;
  unsigned linkEnd;
  for (unsigned pos = 0;;) {
    ListLine kind = NextListEntry(list, pos, base, path);
    if (kind == ListLine::kEnd) break;
    FindData data;
    // Folders hold nothing by themselves; what they hold is listed on its own.
    if (kind != ListLine::kEntry ||
        CheckFoldersOnTheWay(path, baseLength, checked, linkEnd) != WayCheck::kReal ||
        !FindFile::FastFind(path, data) || data.isDir || data.isLink)
      continue;
    bytes += data.size;
  }
  return (bytes + 1023) / 1024;
}

void WriteUninstallRecord() {
  wchar_t program[kPathSize];
  if (!GetProgramFile(program, kPathSize)) return;
  WriteUninstallRecord(program);
}

void WriteUninstallRecord(const wchar_t* programPath) {
  wchar_t folder[kPathSize];
  CopyText(folder, programPath, kPathSize);
  *PointToName(folder) = 0;
  unsigned folderLength = TextLength(folder);
  // First: a record of an installation elsewhere is this one's now, with this one's values only.
  wchar_t earlier[kPathSize];
  GetRegString(HKEY_LOCAL_MACHINE, kUninstallRecordKey, kInstallLocationValue, earlier, L"",
               kPathSize);
  if (earlier[0] && CompareNoCase(earlier, folder) != 0) DeleteForeignRecordValues();

  RecordSettingsStore(HKEY_LOCAL_MACHINE, kUninstallRecordKey);
  wchar_t name[kPathSize];
  CopyText(name, kProductName, kPathSize);
  AppendVersionLabel(name, kPathSize);
  SetRecordString(kDisplayNameValue, name);

  SetRecordString(kDisplayVersionValue, L"" OBX_VERSION_TEXT);
  SetRecordDword(kVersionMajorValue, kVersionMajor);
  SetRecordDword(kVersionMinorValue, kVersionMinor);

  // Quoted: unquoted, a path with blanks lets Windows try "C:\Program.exe" first.
  wchar_t command[kCommandSize];
  FormatText(command, kCommandSize, L"\"%s\"", programPath);
  SetRecordString(kUninstallStringValue, command);
  AppendText(command, kQuietSwitch, kCommandSize);
  SetRecordString(kQuietUninstallStringValue, command);

  // An icon of the user's choice within the installation stays; one of an installation
  // elsewhere, or of none, does not.
  wchar_t icon[kPathSize];
  GetRegString(HKEY_LOCAL_MACHINE, kUninstallRecordKey, kDisplayIconValue, icon, L"", kPathSize);
  if (folderLength == 0 || CompareNoCaseN(icon, folder, folderLength) != 0 || !FileExist(icon)) {
    MakeName(folder, kMainProgramName, icon, kPathSize);
    SetRecordString(kDisplayIconValue, icon);
  }
  SetRecordString(kInstallLocationValue, folder);
  SetRecordDword(kNoModifyValue, 1);
  SetRecordDword(kNoRepairValue, 1);
  SetRecordDword(kLanguageValue, 0);
  SetRecordString(kPublisherValue, kPublisher);
  // The day of this setup, in the form the installed-programs panel reads (YYYYMMDD).
  SYSTEMTIME today;
  GetLocalTime(&today);
  wchar_t date[kLabelPieceSize];
  FormatText(date, kLabelPieceSize, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
  SetRecordString(kInstallDateValue, date);

  // Nothing to measure, or no registry to write the figure to.
  if (folder[0] == 0 || !IntegrationAllowed()) return;
  unsigned long long size = ListedSizeKiB(folder);
  // Without a list there is no estimate; an older one would be wrong.
  if (size == 0)
    DeleteRegValue(HKEY_LOCAL_MACHINE, kUninstallRecordKey, kEstimatedSizeValue);
  else
    SetRecordDword(kEstimatedSizeValue,
                   size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(size));
}
