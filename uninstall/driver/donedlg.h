// The completion dialog shown at the end of setup.
#pragma once

// Shows "DONEDLG" modally without owner.
void ShowDoneDialog();
