#include "integrationenv.h"

#include <gtest/gtest.h>

#include "settings/store.h"

IntegrationEnv::IntegrationEnv(const PlatformOverride& platform) {
  SetPlatformOverride(&platform);
  std::wstring program = folder / L"uninstall.exe";
  SetIniSearchPlaces(program.c_str(), folder.path().c_str());
  FreeIni();
}

TemplateFilesLock::TemplateFilesLock() {
  mutex_.reset(CreateMutexW(nullptr, FALSE, L"ObxTestTemplateFiles"));
  if (!mutex_) {
    ADD_FAILURE() << "cannot create the template files lock";
    return;
  }
  DWORD waited = WaitForSingleObject(mutex_.get(), 60000);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
    ADD_FAILURE() << "template files lock not acquired";
}

TemplateFilesLock::~TemplateFilesLock() {
  if (!mutex_) return;
  ReleaseMutex(mutex_.get());
}

namespace {

INT_PTR CALLBACK PassiveDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

void Push(std::vector<WORD>& data, DWORD value) {
  data.push_back(LOWORD(value));
  data.push_back(HIWORD(value));
}

void AlignToDword(std::vector<WORD>& data) {
  if (data.size() % 2) data.push_back(0);
}

}  // namespace

CheckBoxDialog::CheckBoxDialog(const std::vector<unsigned>& ids) {
  std::vector<WORD> data;
  Push(data, WS_POPUP);  // style
  Push(data, 0);         // extended style
  data.push_back(static_cast<WORD>(ids.size()));
  data.insert(data.end(), {0, 0, 300, 300});
  data.insert(data.end(), {0, 0, 0});  // no menu, default class, no title
  short y = 0;
  for (unsigned id : ids) {
    AlignToDword(data);
    Push(data, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX);
    Push(data, 0);
    data.insert(data.end(), {4, static_cast<WORD>(y), 100, 10, static_cast<WORD>(id)});
    data.insert(data.end(), {0xFFFF, 0x0080, 0, 0});  // button class, no title, no extra data
    y = static_cast<short>(y + 11);
  }
  window_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                       reinterpret_cast<LPCDLGTEMPLATEW>(data.data()), nullptr,
                                       PassiveDialogProc, 0);
  if (!window_) ADD_FAILURE() << "cannot create the test dialog, error " << GetLastError();
}

CheckBoxDialog::~CheckBoxDialog() {
  if (window_) DestroyWindow(window_);
}

bool CheckBoxDialog::Checked(unsigned id) const {
  return IsDlgButtonChecked(window_, static_cast<int>(id)) == BST_CHECKED;
}

bool CheckBoxDialog::Enabled(unsigned id) const {
  return IsWindowEnabled(GetDlgItem(window_, static_cast<int>(id))) != FALSE;
}

void CheckBoxDialog::SetChecked(unsigned id, bool checked) const {
  CheckDlgButton(window_, static_cast<int>(id), checked ? BST_CHECKED : BST_UNCHECKED);
}
