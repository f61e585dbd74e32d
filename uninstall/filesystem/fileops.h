// Single-object file functions. Each calls Windows with the name as given and, only when that
// fails, once more with the name's "\\?\" form. None shows a message.
#pragma once

#include <windows.h>

#include <cstdint>

// The "\\?\" form of name (kPathSize characters) for the second attempt of a call that failed
// on the name as given; false when it cannot be built. The first attempt's error stays in place
// either way, for the caller to report.
bool LongFormForRetry(const wchar_t* name, wchar_t* out);

bool DelFile(const wchar_t* name);
// Clears every attribute (read-only, hidden, system) of the file or folder.
bool ClearAttributes(const wchar_t* name);
// Removes an empty folder, or a folder link itself.
bool RemoveFolder(const wchar_t* name);
bool RenameFile(const wchar_t* from, const wchar_t* to);
// Asks Windows to delete the file or empty folder at the next restart.
bool ScheduleDeletion(const wchar_t* name);
// An existing file opened for access with share; INVALID_HANDLE_VALUE on failure.
HANDLE OpenExistingFile(const wchar_t* name, DWORD access, DWORD share);

// The name to give a call that is not to be made twice (one that may fail half-way): name as
// it is, or its "\\?\" form, built in buffer (kPathSize characters), when it is too long for
// the plain form.
const wchar_t* WindowsName(const wchar_t* name, wchar_t* buffer);
// INVALID_FILE_ATTRIBUTES when neither call succeeds.
unsigned GetFileAttr(const wchar_t* name);
// Folders count as existing.
bool FileExist(const wchar_t* name);
bool IsDir(unsigned attr);
bool IsLink(unsigned attr);
// Bytes available to the caller on the volume of name; 0 on failure.
uint64_t GetFreeDisk(const wchar_t* name);

// Creates name as a new file (CREATE_NEW), open with access and share, with security (may be
// null). Never writes through a link: anything standing at the name, a link whose target is
// missing too, fails the call and is left as it is. INVALID_HANDLE_VALUE on failure, with
// GetLastError set.
HANDLE CreateNewFile(const wchar_t* name, DWORD access, DWORD share,
                     SECURITY_ATTRIBUTES* security);
// Creates prefix + random digits + suffix (MakeRandomName) as a new file (CreateNewFile: never
// through a link) with access, share and security (may be null); a name already taken costs
// another try. name receives the name (kPathSize characters); INVALID_HANDLE_VALUE on failure.
HANDLE CreateRandomFile(const wchar_t* prefix, const wchar_t* suffix, DWORD access, DWORD share,
                        SECURITY_ATTRIBUTES* security, wchar_t* name);
// Creates "name.<random digits>.tmp" beside name as a new file (CreateNewFile: never through a
// link), open for writing and marked for deletion, so that a run killed before MarkForDeletion
// takes the mark back leaves nothing that would keep the folder from going. A taken name costs
// another try. temp receives the name (kPathSize characters); INVALID_HANDLE_VALUE on failure.
HANDLE CreatePendingFile(const wchar_t* name, wchar_t* temp);
// Sets, or takes back, the mark that deletes the file or empty folder, opened with DELETE access,
// when its last handle closes: the deletion of exactly the object that handle was checked to be.
bool MarkForDeletion(HANDLE file, bool mark);
// Writes a complete file of size bytes at name without following a link standing there: the bytes
// go to a pending file beside it (CreatePendingFile), which then takes the name's place. A link
// at the name is replaced itself and its target never opened (deleting or opening a link would
// reach the target under Wine); a folder, or a link to one, refuses the write. False, with
// nothing left behind, on any failure.
bool WriteNewFile(const wchar_t* name, const void* data, unsigned size);

// Whether this process may delete the folder and add files to it: the folder (a link itself,
// never its target) is opened with that access and closed again, so nothing changes. 0 when
// granted, else the system's error; ERROR_ACCESS_DENIED means the rights are missing.
unsigned long CheckFolderChangeAccess(const wchar_t* name);

// For tests: CheckFolderChangeAccess answers ERROR_ACCESS_DENIED for this folder (the same text,
// case aside), as Windows does for a standard user under Program Files; Wine grants every access.
// Null asks the system again. Never set by the program.
void SetFolderAccessDeniedOverride(const wchar_t* name);
