// Reads a whole text file of unknown encoding (UTF-16 in either byte order, UTF-8, or the ANSI
// code page) into trimmed, non-empty UTF-16 lines.
#pragma once

#include "localisation/stringlist.h"

enum TextEncoding { kTextAnsi, kTextUtf16Le, kTextUtf16Be, kTextUtf8 };

// False when the file cannot be opened; an empty file gives true and no lines.
bool ReadTextFile(const wchar_t* path, StringList& lines);

// The decision ReadTextFile makes on the raw bytes; reads only data[0..n).
TextEncoding DetectTextEncoding(const unsigned char* data, unsigned n);
// Decodes n raw bytes as ReadTextFile does and appends the lines; reads only data[0..n).
void DecodeTextLines(const unsigned char* data, unsigned n, StringList& lines);
