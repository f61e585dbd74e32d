// Bounded copying, appending and formatting into fixed-size buffers.
// Every size counts elements (UTF-16 units or bytes) including the terminator. Overlong text is
// cut and always terminated, never rejected; a size of 0 writes nothing.
#pragma once

#include <cstdarg>

void CopyText(wchar_t* dest, const wchar_t* src, unsigned size);
void CopyText(char* dest, const char* src, unsigned size);

// Appends src after the text already in dest; leaves dest unchanged when it fills its buffer.
void AppendText(wchar_t* dest, const wchar_t* src, unsigned size);
void AppendText(char* dest, const char* src, unsigned size);

// printf-style. "%s" takes a string of the buffer's own width. Returns the number of characters
// written, or -1 when the text had to be cut.
int FormatText(wchar_t* buffer, unsigned size, const wchar_t* format, ...);
int FormatText(char* buffer, unsigned size, const char* format, ...);
int FormatTextV(wchar_t* buffer, unsigned size, const wchar_t* format, va_list args);
int FormatTextV(char* buffer, unsigned size, const char* format, va_list args);

// Fills a message from the language files, which anyone may edit, with arguments: each "%s" takes
// the next argument (nothing once they run out, a null one counts as empty), "%%" becomes "%" and
// every other "%" stays as it stands, so no format can read beyond the arguments.
void SubstituteText(wchar_t* out, unsigned size, const wchar_t* format, const wchar_t* const* args,
                    unsigned argCount);
void SubstituteText(wchar_t* out, unsigned size, const wchar_t* format, const wchar_t* arg);

// Whether text begins with prefix, compared unit by unit (case counts).
bool StartsWith(const wchar_t* text, const wchar_t* prefix);

// Length of a wide or 8-bit text; 0 for null.
unsigned TextLength(const wchar_t* text);
unsigned TextLength(const char* text);
