// Deleting what the installer's file list "Uninstall.lst" names, never through a link.
#pragma once

#include "driver/filelist.h"

// Room for the names of files that must be deleted by hand, one per line.
constexpr unsigned kLeftFilesSize = 1024;

struct DeletionResult {
  unsigned removed = 0;      // files deleted, folders and links removed
  bool scheduled = false;    // some file goes at the next restart
  unsigned unscheduled = 0;  // files that could be neither deleted nor scheduled
  wchar_t left[kLeftFilesSize] = {};  // where those stay, as many whole names as fit
};

// Deletes what the list names under folder (which ends in a backslash): first every listed file
// in the list's order, then every listed folder that is empty by then, deeper ones first, so the
// order of the list does not matter and each entry is looked at once or twice. A file that cannot
// be deleted is renamed to a free "<name>.<n>.tmp" and scheduled for deletion at restart, except
// for entries named like programName or "Uninstall.lst", which are left for later. No link is
// followed: a listed link, or one on the way to an entry, is removed itself and what lies behind
// it is not touched.
DeletionResult DeleteListedFiles(const FileList& list, const wchar_t* folder,
                                 const wchar_t* programName);
