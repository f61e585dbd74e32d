#include "driver/runstate.h"

#include "base/text.h"
#include "filesystem/log.h"
#include "localisation/langfile.h"
#include "localisation/messages.h"

namespace {

constexpr unsigned kRtlMessageFlags = MB_RTLREADING | MB_RIGHT;
constexpr unsigned kRightsErrorSize = 1024;
constexpr unsigned kSystemTextSize = 256;

}  // namespace

RunState runState;

void ResetRunState() { runState = RunState{}; }

int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, unsigned flags) {
  if (runState.silent) {
    LogLine(L"message not shown (silent): %s", text);
    return 0;
  }
  if (languageFile.rightToLeft) flags |= kRtlMessageFlags;
  return MessageBoxW(owner, text, caption, flags);
}

void ShowRightsError(unsigned textId, unsigned captionId, DWORD error) {
  wchar_t text[kRightsErrorSize];
  CopyText(text, GetMsg(textId), kRightsErrorSize);
  wchar_t system[kSystemTextSize];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, system, kSystemTextSize, nullptr);
  // The system's text ends in a line break.
  while (length > 0 && (system[length - 1] == L'\n' || system[length - 1] == L'\r'))
    length--;
  if (length > 0 && length < kSystemTextSize) {
    system[length] = 0;
    AppendText(text, L"\n\n", kRightsErrorSize);
    AppendText(text, system, kRightsErrorSize);
  }
  ShowMessage(nullptr, text, GetMsg(captionId), MB_ICONERROR | MB_SETFOREGROUND);
}
