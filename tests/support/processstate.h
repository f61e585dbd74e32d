// The process-wide single objects of the program back in their start state, so that the tests of
// one test program can run one after another in a single process.
#pragma once

// The settings store (entries, search and its places, entry limit), the registry view, write
// denials, change limit and key counts, the error handler, the run state, the language file and
// module (resources from the test program itself), the process's default layout, and every
// platform seam (Windows version, folder access, elevation, work area, help viewer). The test
// programs' main runs it before and after every test; a test calls it itself only to start over
// within one test.
void ResetProcessState();
