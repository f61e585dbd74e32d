// What the bitness of the process running a test means for what it must see. The program and the
// tests of one build share their bitness, and the suite runs the 32-bit build in a 64-bit Wine
// prefix, as the shipped program runs on 64-bit Windows: a WOW64 process, whose default registry
// view is the 32-bit one and whose system folder is SysWOW64. The 64-bit build sees neither.
#pragma once

#include <windows.h>

#include <string>

constexpr bool kWow64Process = sizeof(void*) == 4;
// The registry view this process reads and writes by default, and the other one.
constexpr REGSAM kOwnView = kWow64Process ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
constexpr REGSAM kOtherView = kWow64Process ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

// The Explorer module of this process's own bitness, which tests may load, copy and register.
constexpr const wchar_t* kOwnExplorerModule = kWow64Process ? L"obxext.dll" : L"obxext64.dll";

// Whether a key exists in the given view (KEY_WOW64_32KEY or KEY_WOW64_64KEY).
bool KeyExistsInView(HKEY root, const std::wstring& subkey, REGSAM view);
