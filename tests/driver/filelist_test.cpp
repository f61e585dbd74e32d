// The installer's file list: which entries name something inside the installation folder.
#include "driver/filelist.h"

#include <gtest/gtest.h>

TEST(IsSafeListEntry, RelativeNamesInsideTheFolderPass) {
  for (const wchar_t* entry : {L"Ombrix.exe", L"sub\\file.txt", L"sub/file.txt", L" leading",
                               L".hidden", L"name..txt", L"sub\\", L"NULL", L"console.txt",
                               L"COM10", L"LPTX", L"xnul", L"AUXILIARY.txt", L"sub\\CONIN",
                               L" NUL", L"COM\u00b4"})
    EXPECT_TRUE(IsSafeListEntry(entry)) << entry;
}

TEST(IsSafeListEntry, NamesThatLeaveTheFolderAreRefused) {
  for (const wchar_t* entry :
       {L"", L"\\Windows\\win.ini", L"/etc", L"C:\\Windows", L"C:win.ini", L"\\\\?\\C:\\x",
        L"\\\\.\\C:", L"\\\\server\\share\\x", L"..", L"..\\x", L"sub\\..\\..\\x", L"sub/../x",
        L".", L"sub\\.\\x", L"... ", L"sub\\. .\\x", L"file.txt:stream", L"file.txt::$DATA",
        // Devices, in any case, with an extension, trailing dots or blanks, in any component.
        L"NUL", L"nul", L"Con.txt", L"PRN.", L"AUX .log", L"com1", L"COM9.dat", L"lpt1...",
        L"LPT0", L"COM\u00b9", L"LPT\u00b3.x", L"CONIN$", L"conout$.txt", L"sub\\NUL",
        L"NUL\\x.txt", L"a/aux/b", L"nul  ", L"CON.tar.gz"})
    EXPECT_FALSE(IsSafeListEntry(entry)) << entry;
}
