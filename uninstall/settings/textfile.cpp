#include "settings/textfile.h"

#include <cstring>

#include "filesystem/file.h"
#include "localisation/array.h"
#include "localisation/convert.h"

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

// Copies bytes up to the first zero (or n) and terminates them, so the converters never read
// beyond the caller's data.
void CopyTerminated(const unsigned char* data, unsigned n, Array<char>& out) {
  const void* zero = n ? std::memchr(data, 0, n) : nullptr;
  unsigned length = zero ? static_cast<unsigned>(static_cast<const unsigned char*>(zero) - data) : n;
  out.SetSize(length + 1);
  if (length) std::memcpy(out.data, data, length);
  out[length] = 0;
}

void DecodeText(const unsigned char* data, unsigned n, Array<wchar_t>& text) {
  TextEncoding encoding = DetectTextEncoding(data, n);
  if (encoding == kTextUtf16Le || encoding == kTextUtf16Be) {
    unsigned units = (n - 2) / 2;  // an odd last byte is ignored
    text.SetSize(units + 1);
    const unsigned char* p = data + 2;
    for (unsigned i = 0; i < units; i++, p += 2)
      text[i] = encoding == kTextUtf16Le ? static_cast<wchar_t>(p[0] | (p[1] << 8))
                                         : static_cast<wchar_t>(p[1] | (p[0] << 8));
    text[units] = 0;
    return;
  }
  Array<char> bytes;
  if (encoding == kTextUtf8) {
    CopyTerminated(data + 3, n - 3, bytes);
    // Every byte gives at most one unit (four bytes give two).
    text.SetSize(bytes.count);
    Utf8ToWide(bytes.data, text.data, text.count);
  } else {
    CopyTerminated(data, n, bytes);
    text.SetSize(bytes.count);
    ToWide(bytes.data, text.data, text.count);
  }
}

// Cuts the text in place into lines, trims blanks and tabs from their ends and keeps the
// non-empty ones; runs of CR and LF end a line together.
void CutLines(wchar_t* text, StringList& lines) {
  wchar_t* p = text;
  while (*p) {
    wchar_t* start = p;
    while (*p && *p != L'\r' && *p != L'\n') p++;
    wchar_t* end = p;
    while (*p == L'\r' || *p == L'\n') p++;
    *end = 0;
    while (end > start && (end[-1] == L' ' || end[-1] == L'\t')) *--end = 0;
    if (end > start) lines.AddString(start);
  }
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

void DecodeTextLines(const unsigned char* data, unsigned n, StringList& lines) {
  Array<wchar_t> text;
  DecodeText(data, n, text);
  CutLines(text.data, lines);
}

bool ReadTextFile(const wchar_t* path, StringList& lines) {
  File file;
  if (!file.Open(path, 0)) return false;
  Array<unsigned char> bytes;
  bytes.SetSize(kReadPiece);
  bytes.SetSize(0);
  for (;;) {
    unsigned used = bytes.count;
    bytes.Add(kReadPiece);
    int got = file.Read(bytes.data + used, kReadPiece);
    if (got <= 0) {
      // A failed read ends the file; what came before it still counts.
      bytes.SetSize(used);
      break;
    }
    bytes.SetSize(used + static_cast<unsigned>(got));
  }
  file.Close();
  DecodeTextLines(bytes.data, bytes.count, lines);
  return true;
}
