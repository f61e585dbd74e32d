// The integration settings dialog of setup mode.
#pragma once

#include <windows.h>

// Shows "SETUPDLG" modally without owner: 1 when confirmed, 0 when cancelled.
INT_PTR ShowSetupDialog();
