// The names the product goes by on the disk and in the registry, and the Windows facts its rules
// depend on, each written once. Users' systems keep these texts (keys, values, files, shortcuts),
// so they never change: what one unit writes and another later reads or removes is named here.
// Self-contained, so that it can live in whichever folder holds the lowest layer.
#pragma once

// The version and the publisher, as the file's version resource and the installed-programs record
// both state them; the resource script reads these lines too, so they are plain macros.
#define OBX_VERSION_MAJOR 6
#define OBX_VERSION_MINOR 22
#define OBX_VERSION_BUILD 0
#define OBX_QUOTE_(x) #x
#define OBX_QUOTE(x) OBX_QUOTE_(x)
#define OBX_VERSION_TEXT \
  OBX_QUOTE(OBX_VERSION_MAJOR) "." OBX_QUOTE(OBX_VERSION_MINOR) "." OBX_QUOTE(OBX_VERSION_BUILD)
#define OBX_PUBLISHER "Felsor GmbH"
#define OBX_PRODUCT_TEXT "Ombrix"

#ifndef RC_INVOKED
#include <windows.h>

// The product's name; the literal also makes up the names built from it below.
#define OBX_PRODUCT_NAME L"" OBX_PRODUCT_TEXT
// The product's own key in HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE; settings/registry.h takes
// relative key names below it.
#define OBX_PROGRAM_KEY L"Software\\" OBX_PRODUCT_NAME
// The product's file types in HKEY_CLASSES_ROOT: its own archives and ZIP archives.
#define OBX_OBX_TYPE OBX_PRODUCT_NAME
#define OBX_ZIP_TYPE OBX_PRODUCT_NAME L".ZIP"

// The name the user sees: the installed-programs record, the program group and its main link,
// the registered application, the default installation folder and the application data folder.
inline constexpr wchar_t kProductName[] = OBX_PRODUCT_NAME;

// The main program, beside this executable.
inline constexpr wchar_t kMainProgramName[] = OBX_PRODUCT_NAME L".exe";
// Its App Paths entry in HKEY_LOCAL_MACHINE; the leading "\" names it from the root rather than
// below the product's key.
inline constexpr wchar_t kAppPathsKey[] =
    L"\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" OBX_PRODUCT_NAME L".exe";

// The help file beside the program. The help launcher has always opened it in lower case, the
// program group's link has always pointed at it capitalised; both are kept as they were, since
// the link's stored target shows the difference.
inline constexpr wchar_t kHelpFileName[] = L"ombrix.chm";
inline constexpr wchar_t kHelpLinkTarget[] = L"Ombrix.chm";

inline constexpr wchar_t kObxType[] = OBX_OBX_TYPE;
inline constexpr wchar_t kZipType[] = OBX_ZIP_TYPE;
// Recovery volumes (".rev").
inline constexpr wchar_t kRevType[] = OBX_PRODUCT_NAME L".REV";

// Settings keys (relative: below the product's key, or in Ombrix.ini). Per extension, Setup\<ext>
// holds whether the user chose it and what handler it had before the product took it over.
inline constexpr wchar_t kExtensionSetupKeyFormat[] = L"Setup\\%s";
// The folders the user chose: "AppData", read at start-up from HKEY_CURRENT_USER by its full name
// (before any settings store is in force), and "TempFolder".
#define OBX_PATHS_KEY L"Paths"
inline constexpr wchar_t kPathsKey[] = OBX_PATHS_KEY;
inline constexpr wchar_t kUserPathsKey[] = OBX_PROGRAM_KEY L"\\" OBX_PATHS_KEY;
// The context menu items the user chose, and the New-menu templates among them.
inline constexpr wchar_t kMenuItemsKey[] = L"Setup\\MenuItems";
inline constexpr wchar_t kNewObxValue[] = L"NewOBX";
inline constexpr wchar_t kNewZipValue[] = L"NewZIP";

// Windows' New-menu entry of a file type in HKEY_CLASSES_ROOT (<ext>\ShellNew) and the value
// that names its template file.
inline constexpr wchar_t kShellNewKeyFormat[] = L"%s\\ShellNew";
inline constexpr wchar_t kShellNewFileNameValue[] = L"FileName";

// Windows Vista, in the form GetWindowsVersion gives: (major << 8) + minor.
inline constexpr unsigned kWindowsVista = 0x0600;
#endif  // RC_INVOKED
