// Helpers for tests of the language file and message lookup: encoding language files and finding
// the built sample language material.
#pragma once

#include <string>

// The message marker line of a language file.
#define OBX_MARKER_LINE L"**" L"*messages***\r\n"

// text in the ANSI code page, or as UTF-16 little-endian bytes (with a byte-order mark if asked).
std::string AnsiBytes(const std::wstring& text);
std::string Utf16Bytes(const std::wstring& text, bool byteOrderMark = false);

// The folder of the running test program, with a trailing backslash (the build folder).
std::wstring TestProgramFolder();
// Built sample material under the build folder's "lang" folder, e.g. L"hebrew\\obxlng.dll".
std::wstring SampleLanguagePath(const std::wstring& relative);

// Parses a message part held in a string, as if it were the file's whole text.
void ParseMessages(const std::wstring& text);
// The text of the language file entry with this full key, or "<missing>".
std::wstring EntryText(const char* key);
