// OLE on the program's one thread, started by the first call that needs it (saving a shortcut,
// the WMI query, a dialog with a rich edit control, handing a file to the shell) instead of at
// start-up, so that a run which needs none of them never pays for it; ended once, at the end.
#pragma once

// Starts OLE on this thread unless this process already tried since the last EndOle.
void EnsureOle();
// Takes back what EnsureOle started, if it started anything.
void EndOle();
