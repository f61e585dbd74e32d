// The product's shortcuts: desktop, start menu, and the program group "Ombrix".
#pragma once

#include "integration/options.h"

// programGroupOut may be null (uninstall); iconPath may be null (the target's own icon).
void UpdateShortcuts(const IntegrationOptions& options, wchar_t* programGroupOut,
                     unsigned programGroupSize, const wchar_t* iconPath);
bool CreateShortcut(bool loadExisting, const wchar_t* target, const wchar_t* linkPath,
                    const wchar_t* workingFolder, const wchar_t* description,
                    const wchar_t* iconPath, const wchar_t* arguments);
