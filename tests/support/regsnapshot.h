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

// The key and everything beneath it; an empty map when the key does not exist.
RegSnapshot TakeRegSnapshot(HKEY root, const std::wstring& subkey);
// Readable differences, one line each ("+" only in after, "-" only in before, "~" changed).
std::wstring DescribeRegDifferences(const RegSnapshot& before, const RegSnapshot& after);
