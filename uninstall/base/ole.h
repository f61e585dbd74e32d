// COM and OLE on the program's one thread, each started by the first call that needs it instead
// of at start-up, so that a run which needs neither never pays for it; ended once, at the end.
// COM alone serves the shell's objects (shortcuts, file operations, the open verb) and the WMI
// query; OLE, which also brings up the display driver for its windows, is started only for
// what needs its clipboard or controls: a dialog with a rich edit control and the help viewer.
#pragma once

// Starts COM (a single-threaded apartment) on this thread unless this process already tried
// since the last EndOle.
void EnsureCom();
// Starts OLE on this thread unless this process already tried since the last EndOle.
void EnsureOle();
// Takes back what EnsureCom and EnsureOle started, if they started anything.
void EndOle();
