// Deleting a folder with everything in it, where others may exchange any part of it for a link
// while the deletion runs.
#pragma once

// Deletes the folder at path and everything below it. Each folder is held open while its entries
// are deleted, each entry is opened within the held folder and deleted through that handle only
// after it proved to be that very entry and not a link: a link met anywhere is removed itself,
// never followed (on Windows; Wine cannot remove a link to a folder without reaching its target,
// so there the link and the folders above it stay). A path that names a file, or nothing, is left
// alone. True when nothing is left at path.
bool DeleteTree(const wchar_t* path);

enum class Deletion { kDeleted, kFailed, kRefused };

// Deletes the file, or the empty folder, at path; its first base characters name a folder the
// caller trusts. Every folder on the way is opened within the one before it and held, and the
// entry itself deleted through its handle, each only after it proved to be what its name says:
// kRefused, with nothing changed, when something on the way or the entry is a link or was
// exchanged (a link at the entry is deleted itself on Windows, kDeleted); kFailed when the entry is
// missing or what it should be but cannot be deleted (in use, access denied). way keeps the
// folders on the way held for the next call, which mostly shares them. With whole set the entry
// must be a folder (or a link) and goes with everything in it, as by DeleteTree.
class HeldWay;
Deletion DeleteWithin(const wchar_t* path, unsigned base, HeldWay& way, bool whole = false);

// The folders DeleteWithin passed, held open and checked once for the entries that follow; they
// are let go (and may be deleted) once the way parts or this object ends.
class HeldWay {
 public:
  HeldWay() = default;
  ~HeldWay();
  HeldWay(const HeldWay&) = delete;
  HeldWay& operator=(const HeldWay&) = delete;
  struct State;
  State* state = nullptr;
};
