#include <windows.h>

#include "driver/startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) { return RunProgram(instance); }
