// The process-wide single objects of the program back in their start state, so that the tests of
// one test program can run one after another in a single process.
#pragma once

// Every process-wide object that ARCHITECTURE.md lists, through its owner's reset (the language
// module's resources from the test program itself), and the process's default layout. The test
// programs' main runs it before and after every test; a test calls it itself only to start over
// within one test.
void ResetProcessState();
