// The user's integration choices, the table of archive types the product can take over, and
// their mapping to the stored settings, the "/init" preset and the setup dialog's check boxes.
#pragma once

#include <windows.h>

constexpr unsigned kAssociateEntries = 20;  // 18 rows; the preset may set two more
constexpr unsigned kArchiveTypeCount = 18;
constexpr unsigned kObxRow = 0;
constexpr unsigned kZipRow = 1;

struct IntegrationOptions {
  bool associate[kAssociateEntries];
  bool linkDesktop;
  bool linkStartMenu;
  bool linkPrograms;
  bool shellExt;
  bool cascadedMenu;
  bool menuIcons;
  bool legacyMenu;
};

struct ArchiveType {
  const wchar_t* aliases;  // each extension begins with a dot; the first is the primary one
  unsigned controlId;      // its check box in the setup dialog
};

extern const ArchiveType ArchiveTypeTable[kArchiveTypeCount];

void LoadIntegrationOptions(IntegrationOptions& options);
void SaveIntegrationOptions(const IntegrationOptions& options);
void ApplyInitString(const wchar_t* initString, IntegrationOptions& options);
void ShowOptionsInDialog(HWND dialog, const IntegrationOptions& options);
void ReadOptionsFromDialog(HWND dialog, IntegrationOptions& options);
void ToggleAllAssociations(HWND dialog);
