#include "localisation/langfile.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "base/convert.h"
#include "base/outcome.h"
#include "base/text.h"
#include "filesystem/file.h"
#include "filesystem/path.h"
#include "localisation/langmodule.h"

namespace {

// "**" followed by the first 11 characters of "*messages***".
constexpr char kMarker[] = "***messages**";
constexpr size_t kMarkerLength = 13;
constexpr size_t kWideMarkerBytes = 2 * kMarkerLength;
constexpr wchar_t kRtlResource[] = L"RTL";
constexpr unsigned kScanBlock = 8192;
constexpr unsigned kPrefixSize = 100;
constexpr unsigned kNameChars = 99;
constexpr unsigned kKeyChars = 99;

bool IsLineEnd(wchar_t ch) { return ch == L'\r' || ch == L'\n'; }

bool MarkerAt(const unsigned char* data, size_t size, size_t at, bool& wide) {
  if (at + kMarkerLength <= size && std::memcmp(data + at, kMarker, kMarkerLength) == 0) {
    wide = false;
    return true;
  }
  if (at + kWideMarkerBytes > size) return false;
  for (size_t i = 0; i < kMarkerLength; i++)
    if (data[at + 2 * i] != static_cast<unsigned char>(kMarker[i]) || data[at + 2 * i + 1] != 0)
      return false;
  wide = true;
  return true;
}

// The first offset below count at which a marker lies wholly within data[0, size); -1 if none.
long long FindMarkerIn(const unsigned char* data, size_t size, size_t count, bool& wide) {
  for (size_t at = 0; at < count;) {
    const void* star = std::memchr(data + at, '*', count - at);
    if (star == nullptr) break;
    at = static_cast<const unsigned char*>(star) - data;
    if (MarkerAt(data, size, at, wide)) return static_cast<long long>(at);
    at++;
  }
  return -1;
}

// Scans the file from its start, carrying the tail of each block into the next so that a marker
// of either form across a block boundary is still seen.
long long FindMarkerInFile(File& file, bool& wide) {
  constexpr size_t kCarry = kWideMarkerBytes - 1;
  unsigned char window[kCarry + kScanBlock];
  size_t have = 0;
  size_t base = 0;  // file offset of window[0]
  for (;;) {
    int got = file.Read(window + have, kScanBlock);
    bool atEnd = got <= 0;
    if (!atEnd) have += static_cast<size_t>(got);
    size_t testable = atEnd ? have : (have > kCarry ? have - kCarry : 0);
    bool pastLimit = base + testable > kMarkerScanLimit;
    if (pastLimit) testable = kMarkerScanLimit + 1 - base;
    long long at = FindMarkerIn(window, have, testable, wide);
    if (at >= 0) return static_cast<long long>(base) + at;
    if (atEnd || pastLimit) return -1;
    std::memmove(window, window + testable, have - testable);
    base += testable;
    have -= testable;
  }
}

char* HeapCopy(const char* text) {
  size_t n = std::strlen(text) + 1;
  char* copy = new (std::nothrow) char[n];
  if (copy == nullptr) MemoryError();
  std::memcpy(copy, text, n);
  return copy;
}

wchar_t* HeapCopy(const wchar_t* text, size_t length) {
  wchar_t* copy = new (std::nothrow) wchar_t[length + 1];
  if (copy == nullptr) MemoryError();
  std::memcpy(copy, text, length * sizeof(wchar_t));
  copy[length] = 0;
  return copy;
}

// Units of a UTF-16 text held in memory.
struct WideUnits {
  const wchar_t* text;
  size_t length;
  wchar_t At(size_t i) const { return text[i]; }
};

// Units of a little-endian UTF-16 text read straight from file bytes, which need not be aligned.
struct LittleEndianUnits {
  const unsigned char* bytes;
  size_t length;
  wchar_t At(size_t i) const {
    return static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
};

// One pass over a message part; every read is bounded by the part's length, past which the text
// reads as ended.
template <typename Units>
class MessageParser {
 public:
  MessageParser(const Units& units, wchar_t* value) : units_(units), value_(value) {
    CopyText(prefix_, "s:", kPrefixSize);
  }

  void Run() {
    size_t pos = 0;
    for (;;) {
      bool lineStart = pos > 0 && IsLineEnd(Char(pos - 1));
      if (lineStart && Char(pos) == L':' && SectionLine(pos)) continue;
      if (lineStart && IsAsciiLetter(Char(pos)) && KeyLine(pos)) continue;
      wchar_t ch = Char(pos++);
      if (ch == 0) break;
      if (ch == L'\\') {
        if (valueLength_ >= kLanguageValueUnits) continue;
        wchar_t escaped = Escape(Char(pos));
        if (escaped != 0) {
          Append(escaped);
          pos++;
        } else {
          Append(L'\\');
        }
      } else if (IsLineEnd(ch)) {
        if (pendingKey_[0] != 0) FinishEntry();
        pendingKey_[0] = 0;
        valueLength_ = 0;
      } else {
        Append(ch);
      }
    }
    if (pendingKey_[0] != 0) FinishEntry();
  }

 private:
  wchar_t Char(size_t i) const { return i < units_.length ? units_.At(i) : 0; }

  static wchar_t Escape(wchar_t ch) {
    switch (ch) {
      case L'"': return L'"';
      case L'\\': return L'\\';
      case L'n': return L'\n';
      case L'r': return L'\r';
      case L't': return L'\t';
      default: return 0;
    }
  }

  void Append(wchar_t ch) {
    if (valueLength_ < kLanguageValueUnits) value_[valueLength_++] = ch;
  }

  bool Keyword(size_t at, const wchar_t* word, size_t& end) const {
    size_t i = 0;
    for (; word[i] != 0; i++)
      if (Char(at + i) != word[i]) return false;
    if (Char(at + i) > 32) return false;
    end = at + i;
    return true;
  }

  // The name after a section keyword, as 8-bit text; moves pos past it.
  void SectionName(size_t& pos, char* name) const {
    while (IsBlank(Char(pos))) pos++;
    wchar_t wide[kNameChars + 1];
    unsigned n = 0;
    while (n < kNameChars && Char(pos) > 32) wide[n++] = Char(pos++);
    wide[n] = 0;
    ToNarrow(wide, name, kPrefixSize);
  }

  // False when the word after the colon is no section keyword.
  bool SectionLine(size_t& pos) {
    size_t at = pos + 1;
    size_t end = 0;
    char name[kPrefixSize];
    if (Keyword(at, L"STRINGS", end)) {
      CopyText(prefix_, "s:", kPrefixSize);
    } else if (Keyword(at, L"DIALOG", end)) {
      SectionName(end, name);
      FormatText(prefix_, kPrefixSize, "$%s:", name);
    } else if (Keyword(at, L"MENU", end)) {
      SectionName(end, name);
      FormatText(prefix_, kPrefixSize, "@%s:", name);
    } else if (Keyword(at, L"DIRECTION", end)) {
      SectionName(end, name);
      languageFile.rightToLeft = std::strcmp(name, "RTL") == 0;
    } else {
      return false;
    }
    pos = end;
    return true;
  }

  // False when no blank, tab or comma follows the key name within 99 characters. The search
  // crosses line ends, so a lone word takes the next line's start into its key.
  bool KeyLine(size_t& pos) {
    size_t n = 0;
    while (n < kKeyChars) {
      wchar_t ch = Char(pos + n);
      if (ch == 0) return false;
      if (ch == L' ' || ch == L'\t' || ch == L',') break;
      n++;
    }
    if (n == kKeyChars) return false;
    wchar_t wide[kKeyChars + 1];
    for (size_t i = 0; i < n; i++) wide[i] = Char(pos + i);
    wide[n] = 0;
    char name[kPrefixSize];
    ToNarrow(wide, name, kPrefixSize);
    char full[kPrefixSize];
    CopyText(full, prefix_, kPrefixSize);
    AppendText(full, name, kPrefixSize);
    CopyText(pendingKey_, full, kLanguageKeySize);
    pos += n + 1;
    while (IsBlank(Char(pos))) pos++;
    return true;
  }

  // Escapes are already resolved here, so an escaped quote at the end goes like a closing one.
  void FinishEntry() {
    size_t end = valueLength_;
    while (end > 0 && IsBlank(value_[end - 1])) end--;
    if (end > 0 && value_[end - 1] == L'"') end--;
    size_t start = end > 0 && value_[0] == L'"' ? 1 : 0;
    LanguageEntry entry;
    entry.key = HeapCopy(pendingKey_);
    entry.text = HeapCopy(value_ + start, end - start);
    if (!languageFile.entries.Push(entry)) MemoryError();
  }

  const Units units_;
  wchar_t* const value_;  // kLanguageValueUnits units
  size_t valueLength_ = 0;
  char prefix_[kPrefixSize];
  char pendingKey_[kLanguageKeySize] = {};
};

void SortByKey() {
  LanguageFile& file = languageFile;
  if (!file.byKey.SetSize(file.entries.count)) MemoryError();
  for (unsigned i = 0; i < file.entries.count; i++) file.byKey[i] = i;
  std::sort(file.byKey.data, file.byKey.data + file.byKey.count, [&file](unsigned a, unsigned b) {
    return std::strcmp(file.entries[a].key, file.entries[b].key) < 0;
  });
}

template <typename Units>
void Parse(const Units& units) {
  // Owned, since the parser throws when memory runs out.
  std::unique_ptr<wchar_t[]> value(new (std::nothrow) wchar_t[kLanguageValueUnits + 1]);
  if (!value) return;
  MessageParser<Units>(units, value.get()).Run();
  SortByKey();
}

// bytes start at the marker.
void ParseMessagePart(const unsigned char* bytes, size_t count, bool wide) {
  if (wide) {
    Parse(LittleEndianUnits{bytes, std::min(count / 2, kMessagePartUnits)});
    return;
  }
  // The bytes are not terminated (they may end at a guard page), so the count bounds the
  // conversion; a zero byte converts to a zero unit, which ends the text as it would anyway.
  std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[count + 1]);
  if (!text) return;
  int units = count == 0 ? 0
                         : MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes),
                                               static_cast<int>(count), text.get(),
                                               static_cast<int>(count));
  Parse(WideUnits{text.get(), std::min(static_cast<size_t>(units), kMessagePartUnits)});
}

}  // namespace

LanguageFile languageFile;

LanguageFile::~LanguageFile() { Clear(); }

void LanguageFile::Clear() {
  for (unsigned i = 0; i < entries.count; i++) {
    delete[] entries[i].key;
    delete[] entries[i].text;
  }
  entries.Reset();
  byKey.Reset();
  rightToLeft = false;
}

void ParseMessageText(const wchar_t* text, size_t length) {
  Parse(WideUnits{text, std::min(length, kMessagePartUnits)});
}

void ParseLanguageData(const void* data, size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  bool wide = false;
  long long at = FindMarkerIn(bytes, size, std::min(size, kMarkerScanLimit + 1), wide);
  if (at < 0) return;
  size_t offset = static_cast<size_t>(at);
  ParseMessagePart(bytes + offset, std::min(size - offset, kMessagePartBytes), wide);
}

void ParseLanguageFile(const wchar_t* path) {
  wchar_t fullName[kPathSize];
  bool hasFolder = false;
  for (const wchar_t* p = path; *p != 0; p++)
    if (*p == L'\\') hasFolder = true;
  if (hasFolder) {
    CopyText(fullName, path, kPathSize);
  } else {
    if (!GetProgramFolderFile(path, fullName, kPathSize)) return;
  }

  File file;
  if (!file.Open(fullName, File::kOpenShareWrite)) return;
  bool wide = false;
  long long at = FindMarkerInFile(file, wide);
  if (at < 0 || !file.Seek(at, FILE_BEGIN)) return;

  unsigned char* buffer = new (std::nothrow) unsigned char[kMessagePartBytes + 2];
  if (buffer == nullptr) return;
  size_t got = 0;
  while (got < kMessagePartBytes) {
    int n = file.Read(buffer + got, static_cast<unsigned>(kMessagePartBytes - got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ParseMessagePart(buffer, got, wide);
  delete[] buffer;
  file.Close();
}

void LoadLanguageFile(const wchar_t* name) {
  wchar_t path[kPathSize];
  FindLocalizedFile(name, path, kPathSize);
  ParseLanguageFile(path);
  // A DLL may declare its language right to left without a language file.
  if (FindResourceW(languageModule.resourceModule, kRtlResource, RT_DIALOG) != nullptr)
    languageFile.rightToLeft = true;
  if (languageFile.rightToLeft) SetProcessDefaultLayout(LAYOUT_RTL);
}
