// The uninstall procedure: checks the rights, asks, takes the product's integration, settings and
// files off the computer and leaves the program file and its folder to the self-removal batch.
#pragma once

// Ends with runState.outcome Outcome::kNoRights, having changed nothing, when the run lacks the
// rights to delete the installed-programs record, the product's class key or the installation
// folder.
void RunUninstall();
// The run's self-removal batch discarded. For the test reset.
void ResetUninstallState();

// Whether this run may take away what it removes: the product's class key and the
// installed-programs record (each when it exists) and the installation folder, each opened with
// delete access and closed again, so asking changes nothing. Under msiMode the record and the
// files stay the package's and are not asked about. Only a denial (ERROR_ACCESS_DENIED) counts;
// other failures are met later as before.
bool HasUninstallRights(const wchar_t* installFolder);

// Every piece of shell integration, the product's file types and settings and, unless msiMode,
// the installed-programs record and App Paths entry of the process's registry view.
void RemoveIntegration();

// The "Paths" "TempFolder" setting when it names something that exists, else the system's temp
// folder; always ends in a backslash. The folder is neither created nor checked further.
void GetTempFolder(wchar_t* out, unsigned size);

// Removes the main program's "Ombrix.exe.WebView2" data folder from tempFolder (as given by
// GetTempFolder) without following a link: one at that name, or inside it, is removed itself.
void RemoveWebViewData(const wchar_t* tempFolder);

// The folder of program: without its last backslash, kept only at a drive root ("C:\"). False
// when the path holds no backslash.
bool GetProgramFolder(const wchar_t* program, wchar_t* out, unsigned size);
