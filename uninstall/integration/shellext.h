// Registration of the Explorer extension modules "obxext.dll" and "obxext64.dll": the COM class,
// the shell handler keys and the approval entry, in the right registry views.
#pragma once

#include "integration/options.h"

void RegisterShellExtensions(bool remove, const IntegrationOptions& options);
void RegisterShellExtension(const IntegrationOptions& options, const wchar_t* moduleName,
                            const wchar_t* classId, const wchar_t* handlerName, bool view64);
// The registry view for a ScopedRegView: the 64-bit one when want64 and this program runs on
// 64-bit Windows, else the process's own.
REGSAM RegViewFor(bool want64);
