// Turning confirmed integration options into registry entries and shortcuts in one call.
#pragma once

#include "integration/options.h"

// False when the program lacks the rights to write machine-wide keys; nothing is applied then.
bool ApplyIntegration(const IntegrationOptions& options, wchar_t* programGroupOut,
                      unsigned programGroupSize);
bool RegisterAppPaths();

// Tells the shell that file associations changed (SHCNE_ASSOCCHANGED), waiting until it has
// been delivered. One at the end of a setup or an uninstallation tells it everything.
void NotifyAssociationsChanged();
// How often NotifyAssociationsChanged ran in this process.
unsigned AssociationNotificationCount();
