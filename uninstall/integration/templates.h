// Explorer's New-menu entries for empty OBX and ZIP archives: the template files beside this
// executable and the "ShellNew" entries that point at them, and giving back what was there before.
#pragma once

// Whether the New-menu template is wanted for this row, from the options and the menu switches.
bool NewFileWanted(bool shellExt, bool isObxRow, bool isZipRow);
void InstallNewFileTemplate(const wchar_t* ext, bool isObxRow);
// Gives the entry from before back; when the product no longer owns the extension, only while
// the entry still names the product's template.
void RestoreNewFileHandler(const wchar_t* ext, bool isObxRow, bool owned);
