// Reads a whole text file of unknown encoding (UTF-16 in either byte order, UTF-8, or the ANSI
// code page) into trimmed, non-empty UTF-16 lines.
#pragma once

#include "base/stringlist.h"

enum TextEncoding { kTextAnsi, kTextUtf16Le, kTextUtf16Be, kTextUtf8 };

// False when the file cannot be opened; an empty file gives true and no lines. complete tells
// whether the lines stand for the whole file: it is false after a read that failed part-way, when
// the memory for the rest was not there, and when some bytes could not be decoded (each such
// sequence, and each zero byte or unit, becomes U+FFFD so that the lines after it are still read).
// Whoever writes the file back must not do so from an incomplete read.
bool ReadTextFile(const wchar_t* path, StringList& lines, bool& complete);

// The decision ReadTextFile makes on the raw bytes; reads only data[0..n).
TextEncoding DetectTextEncoding(const unsigned char* data, unsigned n);
// Decodes n raw bytes as ReadTextFile does and appends the lines; reads only data[0..n). False
// when something was replaced or dropped, or memory ran out (see complete above).
bool DecodeTextLines(const unsigned char* data, unsigned n, StringList& lines);
