// Isolation for tests of the shell integration: a chosen Windows variant, scratch registry roots,
// a settings store that finds no ini file, and a test dialog with the setup dialog's check boxes.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <vector>

#include "base/owners.h"
#include "platforms.h"
#include "testenv.h"

// Sets the platform and points the settings store at an empty folder; the reset after the test
// takes both back.
class IntegrationEnv {
 public:
  explicit IntegrationEnv(const PlatformOverride& platform = kWindows10);
  IntegrationEnv(const IntegrationEnv&) = delete;
  IntegrationEnv& operator=(const IntegrationEnv&) = delete;

  ScratchRegistry registry;
  TempFolder folder;
};

// The New-menu template files are written beside the test program, which every test process
// shares; tests that write or inspect them hold this lock so that they do not overlap.
class TemplateFilesLock {
 public:
  TemplateFilesLock();
  ~TemplateFilesLock();
  TemplateFilesLock(const TemplateFilesLock&) = delete;
  TemplateFilesLock& operator=(const TemplateFilesLock&) = delete;

 private:
  ScopedHandle mutex_;
};

// A hidden modeless dialog holding auto check boxes with the given ids, built from an in-memory
// template, destroyed with the object.
class CheckBoxDialog {
 public:
  explicit CheckBoxDialog(const std::vector<unsigned>& ids);
  ~CheckBoxDialog();
  CheckBoxDialog(const CheckBoxDialog&) = delete;
  CheckBoxDialog& operator=(const CheckBoxDialog&) = delete;
  HWND get() const { return window_; }
  bool Checked(unsigned id) const;
  bool Enabled(unsigned id) const;
  void SetChecked(unsigned id, bool checked) const;

 private:
  HWND window_ = nullptr;
};
