#include "base/text.h"

#include <cstdio>
#include <cwchar>

namespace {

template <typename Char>
unsigned LengthOf(const Char* text) {
  unsigned n = 0;
  if (text)
    while (text[n]) n++;
  return n;
}

template <typename Char>
void Copy(Char* dest, const Char* src, unsigned size) {
  if (size == 0) return;
  unsigned i = 0;
  if (src)
    for (; i + 1 < size && src[i]; i++) dest[i] = src[i];
  dest[i] = 0;
}

template <typename Char>
void Append(Char* dest, const Char* src, unsigned size) {
  unsigned n = LengthOf(dest);
  if (n < size) Copy(dest + n, src, size - n);
}

}  // namespace

unsigned TextLength(const wchar_t* text) { return LengthOf(text); }
unsigned TextLength(const char* text) { return LengthOf(text); }

void CopyText(wchar_t* dest, const wchar_t* src, unsigned size) { Copy(dest, src, size); }
void CopyText(char* dest, const char* src, unsigned size) { Copy(dest, src, size); }
void AppendText(wchar_t* dest, const wchar_t* src, unsigned size) { Append(dest, src, size); }
void AppendText(char* dest, const char* src, unsigned size) { Append(dest, src, size); }

// The runtime's own _vsn*printf: with it "%s" in the wide form takes a wide string, as the
// program's formats expect. It neither terminates a cut text nor counts it, so both happen here.
int FormatTextV(wchar_t* buffer, unsigned size, const wchar_t* format, va_list args) {
  if (size == 0) return -1;
  int n = _vsnwprintf(buffer, size - 1, format, args);
  if (n < 0 || static_cast<unsigned>(n) >= size) {
    buffer[size - 1] = 0;
    return -1;
  }
  buffer[n] = 0;
  return n;
}

int FormatTextV(char* buffer, unsigned size, const char* format, va_list args) {
  if (size == 0) return -1;
  int n = _vsnprintf(buffer, size - 1, format, args);
  if (n < 0 || static_cast<unsigned>(n) >= size) {
    buffer[size - 1] = 0;
    return -1;
  }
  buffer[n] = 0;
  return n;
}

int FormatText(wchar_t* buffer, unsigned size, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = FormatTextV(buffer, size, format, args);
  va_end(args);
  return n;
}

int FormatText(char* buffer, unsigned size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = FormatTextV(buffer, size, format, args);
  va_end(args);
  return n;
}

void SubstituteText(wchar_t* out, unsigned size, const wchar_t* format, const wchar_t* const* args,
                    unsigned argCount) {
  if (size == 0) return;
  unsigned n = 0;
  auto put = [&](wchar_t ch) {
    if (n + 1 < size) out[n++] = ch;
  };
  unsigned next = 0;
  for (const wchar_t* p = format; p && *p; p++) {
    if (p[0] == L'%' && p[1] == L's') {
      p++;
      if (next < argCount) {
        const wchar_t* arg = args ? args[next] : nullptr;
        for (; arg && *arg; arg++) put(*arg);
        next++;
      }
    } else if (p[0] == L'%' && p[1] == L'%') {
      p++;
      put(L'%');
    } else {
      put(*p);
    }
  }
  out[n] = 0;
}

void SubstituteText(wchar_t* out, unsigned size, const wchar_t* format, const wchar_t* arg) {
  SubstituteText(out, size, format, &arg, 1);
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
  for (; *prefix; text++, prefix++)
    if (*text != *prefix) return false;
  return true;
}
