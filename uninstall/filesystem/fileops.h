// Single-object file functions. Each calls Windows with the name as given and, only when that
// fails, once more with the name's "\\?\" form. None shows a message.
#pragma once

#include <cstdint>

bool DelFile(const wchar_t* name);
// INVALID_FILE_ATTRIBUTES when neither call succeeds.
unsigned GetFileAttr(const wchar_t* name);
// Folders count as existing.
bool FileExist(const wchar_t* name);
bool IsDir(unsigned attr);
bool IsLink(unsigned attr);
// Bytes available to the caller on the volume of name; 0 on failure.
uint64_t GetFreeDisk(const wchar_t* name);
