// "Uninstall.lst", the installer's list of the files and folders it put into the installation
// folder: read whole once, decoded as the text file reader decodes (ANSI, or UTF-8 or UTF-16 with
// their marks), and walked entry by entry without ever passing through a link.
#pragma once

#include <windows.h>

#include <memory>

#include "filesystem/path.h"
#include "settings/textfile.h"

extern const wchar_t kListFileName[];

// An entry that names something inside the installation folder: not absolute, no drive, no
// "\\?\" or network prefix, no "." or ".." component, no ":" stream name, and no component that
// Windows opens as a device (NUL, CON, PRN, AUX, COM0-9, LPT0-9, CONIN$, CONOUT$, in any case,
// with any extension, trailing dots or blanks).
bool IsSafeListEntry(const wchar_t* entry);

struct FileList {
  std::unique_ptr<unsigned char[]> bytes;
  unsigned size = 0;
  unsigned start = 0;  // after the byte order mark
  TextEncoding encoding = kTextAnsi;
};

// Reads the whole open list from its start. False when a read fails or the file is larger than
// any list an installer writes: the list is then unknown and nothing may be deleted by it.
bool ReadFileList(HANDLE file, FileList& list);
// The same for the list at path; false also when it cannot be opened.
bool ReadFileList(const wchar_t* path, FileList& list);

enum class ListLine { kEnd, kSkipped, kEntry };

// Decodes the line that begins at byte pos and moves pos to the next one. kEntry with path =
// folder (ending in a backslash) + the entry, one leading and the trailing separators dropped.
// kSkipped for lines that are empty, hold a zero character, are longer than 2047 bytes (ANSI and
// UTF-8) or do not decode, name an unsafe entry, or do not fit into kPathSize with the folder: a
// cut line or path would name another file.
ListLine NextListEntry(const FileList& list, unsigned& pos, const wchar_t* folder, wchar_t* path);

// The folders of the last entry that were found to be real folders. Entries are mostly listed
// folder by folder, so most find theirs here and cost no further look-up.
struct CheckedFolders {
  wchar_t path[kPathSize] = {};
  unsigned length = 0;
};

enum class WayCheck { kReal, kBlocked, kLink };

// Checks every folder between the installation folder (the first base characters of path) and
// the entry's last component without following any link. kReal when all are real folders; kLink,
// with linkEnd = the length of the link's own path, when one is a link (junction, symbolic link,
// or any other reparse point); kBlocked when one is missing or a file.
WayCheck CheckFoldersOnTheWay(const wchar_t* path, unsigned base, CheckedFolders& checked,
                              unsigned& linkEnd);
