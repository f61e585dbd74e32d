// Functions looked up by name in a loaded module: those this program may not import directly,
// since an older Windows or another system lacks them.
#pragma once

#include <windows.h>

// The function `name` of module, typed; null when the module is null or lacks it.
template <typename Function>
Function ModuleFunction(HMODULE module, const char* name) {
  if (!module) return nullptr;
  // Through void(*)(void), the one function type GCC lets any other be cast from.
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

// A function of kernel32, which every process has loaded.
template <typename Function>
Function KernelFunction(const char* name) {
  return ModuleFunction<Function>(GetModuleHandleW(L"kernel32"), name);
}
