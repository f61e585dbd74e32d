// The run's log ("/log"): a plain text file, UTF-8, one line per step the run takes, each written
// at once so that a run that ends early still leaves its trace. While no log is open every call
// returns at once, and none changes the caller's last error.
#pragma once

// Creates the log as a new file at path, never through a link and never over an existing file;
// for an empty path under the first free name "Ombrix log <yyyy-mm-dd> #<n>.txt" (n from 001 to
// 999) in the user's temp folder. False, with no log open, when it cannot be created.
bool OpenRunLog(const wchar_t* path);
void CloseRunLog();
// One line with the time of day in front; printf-style, "%s" takes a wide string; cut to fit.
void LogLine(const wchar_t* format, ...);
// One line for a step and Windows' answer to it: "<text>: done" or "<text>: error <error>".
void LogStep(unsigned long error, const wchar_t* format, ...);
