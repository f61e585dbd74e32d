// Cached facts about the Windows this process runs on.
#pragma once

// True when this 32-bit process runs on 64-bit Windows.
bool IsWow64();
