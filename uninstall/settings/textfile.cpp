#include "settings/textfile.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "base/array.h"
#include "base/convert.h"
#include "filesystem/file.h"

namespace {

constexpr unsigned kReadPiece = 4096;

bool HasMark(const unsigned char* data, unsigned n, unsigned char b0, unsigned char b1) {
  return n >= 2 && data[0] == b0 && data[1] == b1;
}

bool HasUtf8Mark(const unsigned char* data, unsigned n) {
  return n >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF;
}

// UTF-16 is believed only when some high byte is a control other than CR or LF: a mark followed
// by text whose high bytes are all printable is more likely 8-bit text that starts with ÿþ.
bool HasControlHighByte(const unsigned char* data, unsigned n, unsigned from) {
  for (unsigned i = from; i < n; i += 2)
    if (data[i] < 0x20 && data[i] != 0x0D && data[i] != 0x0A) return true;
  return false;
}

bool DecodeAnsi(const unsigned char* data, unsigned n, Array<wchar_t>& text) {
  const char* bytes = reinterpret_cast<const char*>(data);
  if (!text.SetSize(n + 1)) return false;
  int units = n ? MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(n),
                                      text.data, static_cast<int>(n))
                : 0;
  bool faithful = n == 0 || units > 0;
  // Bytes the code page has no character for: convert again, with its default character.
  if (!faithful)
    units =
        MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(n), text.data, static_cast<int>(n));
  text.Cut(static_cast<unsigned>(units) + 1);
  text[static_cast<unsigned>(units)] = 0;
  return faithful;
}

// The whole text in UTF-16, terminated; false when something was replaced or dropped. A zero
// byte or unit would end the text early, so it becomes U+FFFD as well. No text at all (count 0)
// when the memory for it was not there.
bool DecodeText(const unsigned char* data, unsigned n, Array<wchar_t>& text) {
  TextEncoding encoding = DetectTextEncoding(data, n);
  bool faithful;
  if (encoding == kTextUtf16Le || encoding == kTextUtf16Be) {
    unsigned units = (n - 2) / 2;
    faithful = (n - 2) % 2 == 0;  // an odd last byte is dropped
    if (!text.SetSize(units + 1)) return false;
    const unsigned char* p = data + 2;
    for (unsigned i = 0; i < units; i++, p += 2)
      text[i] = encoding == kTextUtf16Le ? static_cast<wchar_t>(p[0] | (p[1] << 8))
                                         : static_cast<wchar_t>(p[1] | (p[0] << 8));
    text[units] = 0;
  } else if (encoding == kTextUtf8) {
    if (!text.SetSize(n - 2)) return false;
    unsigned units;
    faithful = Utf8ToWide(data + 3, n - 3, text.data, units);
    text.Cut(units + 1);
  } else {
    faithful = DecodeAnsi(data, n, text);
  }
  for (unsigned i = 0; i + 1 < text.count; i++) {
    if (text[i] != 0) continue;
    text[i] = kReplacementChar;
    faithful = false;
  }
  return faithful;
}

// Cuts the text in place into lines, trims blanks and tabs from their ends and keeps the
// non-empty ones; runs of CR and LF end a line together. False when the memory for a line was not
// there: the lines before it stay.
bool CutLines(wchar_t* text, StringList& lines) {
  wchar_t* p = text;
  while (*p) {
    wchar_t* start = p;
    while (*p && *p != L'\r' && *p != L'\n') p++;
    wchar_t* end = p;
    while (*p == L'\r' || *p == L'\n') p++;
    *end = 0;
    while (end > start && (end[-1] == L' ' || end[-1] == L'\t')) *--end = 0;
    if (end > start && !lines.AddString(start)) return false;
  }
  return true;
}

}  // namespace

TextEncoding DetectTextEncoding(const unsigned char* data, unsigned n) {
  if (n > 3 && HasUtf8Mark(data, n) && IsValidUtf8(data + 3, n - 3)) return kTextUtf8;
  bool littleEndian = HasMark(data, n, 0xFF, 0xFE);
  if (n > 2 && littleEndian) {
    if (HasControlHighByte(data, n, 3)) return kTextUtf16Le;
  } else if (n > 2 && HasMark(data, n, 0xFE, 0xFF)) {
    if (HasControlHighByte(data, n, 2)) return kTextUtf16Be;
  }
  return kTextAnsi;
}

bool DecodeTextLines(const unsigned char* data, unsigned n, StringList& lines) {
  Array<wchar_t> text;
  bool faithful = DecodeText(data, n, text);
  return text.count != 0 && CutLines(text.data, lines) && faithful;
}

bool ReadTextFile(const wchar_t* path, StringList& lines, bool& complete) {
  complete = false;
  File file;
  if (!file.Open(path, 0)) return false;
  Array<unsigned char> bytes;
  bool readAll = true;
  for (;;) {
    unsigned used = bytes.count;
    // Memory that runs out ends the file as a failed read does: what came before it counts.
    if (!bytes.Add(kReadPiece)) {
      readAll = false;
      break;
    }
    int got = file.Read(bytes.data + used, kReadPiece);
    bytes.Cut(used + static_cast<unsigned>(got > 0 ? got : 0));
    if (got <= 0) break;
  }
  // A failed read stopped the file: the rest of it is unread.
  readAll = readAll && file.lastError == File::kNoError;
  file.Close();
  complete = DecodeTextLines(bytes.data, bytes.count, lines) && readAll;
  return true;
}
