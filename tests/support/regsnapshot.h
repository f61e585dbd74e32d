// A registry tree read into memory, so that tests can compare what a run left behind with what
// was there before, key for key and value for value.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

struct RegValueData {
  DWORD type = REG_NONE;
  std::vector<unsigned char> bytes;
  bool operator==(const RegValueData& other) const {
    return type == other.type && bytes == other.bytes;
  }
};

// Key path relative to the snapshot's start (empty for the start key) -> value name -> data.
// Key and value names are upper-cased, as the registry compares them without case.
using RegSnapshot = std::map<std::wstring, std::map<std::wstring, RegValueData>>;

// The key and everything beneath it; an empty map when the key does not exist. view may add
// KEY_WOW64_64KEY: Wine then bypasses the redirection of a ScratchRegistry and reaches the real
// 64-bit view (hold a MachineStateLock then).
RegSnapshot TakeRegSnapshot(HKEY root, const std::wstring& subkey, REGSAM view = 0);
// Readable differences, one line each ("+" only in after, "-" only in before, "~" changed).
std::wstring DescribeRegDifferences(const RegSnapshot& before, const RegSnapshot& after);

// The same tree, names as stored, for comparing with a listing written out in a test:
// "key path|value name" -> "sz:data", "dword:n" or "typeN", "@" for a default value; a key below
// the start without values and subkeys appears as "key path|" -> "(empty)".
std::map<std::wstring, std::wstring> DumpRegistry(HKEY root, const std::wstring& subkey,
                                                  REGSAM view = 0);
