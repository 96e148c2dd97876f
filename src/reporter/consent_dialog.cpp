#include "reporter/consent_dialog.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

namespace kx {
namespace {

constexpr int kAcceptId = 100;
// Wide enough for the details' longest lines (file names of some 80 characters); in dialog units.
constexpr UINT kWidth = 340;

// A process in a window station that is not interactive (a service's) has no desktop anyone can see.
bool InteractiveStation() {
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  return ::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags),
                                     &needed) &&
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

DialogAnswer Show(const DialogText& text, const wchar_t* accept, const wchar_t* decline) {
  DialogAnswer answer;
  if (!InteractiveStation()) {
    answer.failure = "the window station is not interactive: no desktop to ask on";
    return answer;
  }
  // The decline button carries IDCANCEL, so that Esc and the window's close box choose it.
  const TASKDIALOG_BUTTON buttons[] = {{kAcceptId, accept}, {IDCANCEL, decline}};
  TASKDIALOGCONFIG config = {};
  config.cbSize = sizeof(config);
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
  config.pszWindowTitle = text.title.c_str();
  config.pszMainInstruction = text.mainInstruction.c_str();
  config.pszContent = text.content.c_str();
  config.pButtons = buttons;
  config.cButtons = ARRAYSIZE(buttons);
  // A stray Enter from whatever the person was typing when the program crashed must not send anything.
  config.nDefaultButton = IDCANCEL;
  config.cxWidth = kWidth;
  if (!text.details.empty()) {
    config.pszExpandedInformation = text.details.c_str();
    config.pszCollapsedControlText = L"What does the report contain?";
    config.pszExpandedControlText = L"What does the report contain?";
  }
  int pressed = 0;
  const HRESULT result = ::TaskDialogIndirect(&config, &pressed, nullptr, nullptr);
  if (FAILED(result)) {
    answer.failure =
        "the dialog could not be shown (HRESULT " + std::to_string(static_cast<long>(result)) + ")";
  } else if (pressed != kAcceptId && pressed != IDCANCEL) {
    // Wine answers S_OK and -1 when its dialog could not be made (no display).
    answer.failure = "the dialog ended without an answer (" + std::to_string(pressed) + ")";
  }
  answer.accepted = pressed == kAcceptId;
  return answer;
}

}  // namespace

DialogAnswer AskConsent(const DialogText& text) { return Show(text, L"&Send report", L"&Don't send"); }

DialogAnswer OfferHelpPage(const DialogText& text) { return Show(text, L"&Open help page", L"&Close"); }

}  // namespace kx
