// Taking archive extensions over for the product's file types and giving them back, with the
// previous handler saved under the settings key Setup\<ext> (integration/handlerbackup.h); the
// product's ProgIDs and its Default Programs entries.
#pragma once

#include "integration/options.h"

// The main program "Ombrix.exe" beside this executable.
void GetMainProgramPath(wchar_t* out, unsigned size);
bool IsOwnedExtension(const wchar_t* ext);
void AssociateExtension(const wchar_t* ext, bool associate, bool shellExt, bool isObxRow,
                        bool isZipRow);
void AssociateAll(const IntegrationOptions& options);
// False when the first write is refused (no administrator rights). Takes ".rev" over too.
bool RegisterProgIds();
// Gives ".rev" back to what it was before, while it still names the product's type.
void ReleaseRecoveryExtension();
void RegisterDefaultPrograms(bool remove);
