#include "driver/startup.h"

RunState runState;

int RunProgram(HINSTANCE) { return runState.exitCode; }
