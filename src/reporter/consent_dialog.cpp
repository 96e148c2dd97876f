#include "reporter/consent_dialog.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cwchar>

namespace kx {
namespace {

constexpr int kAcceptId = 100;
constexpr int kBackId = 101;
// Wide enough for the details' longest lines (file names of some 80 characters); in dialog units.
constexpr UINT kWidth = 340;
constexpr wchar_t kContentsQuestion[] = L"What does the report contain?";
constexpr wchar_t kContentsLink[] = L"contents";

// A process in a window station that is not interactive (a service's) has no desktop anyone can see.
bool InteractiveStation() {
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  return ::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags),
                                     &needed) &&
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

// The question and, behind a link in it, the report's contents: a page of its own rather than an expando,
// whose label Wine lays out in a fixed width and cuts short. Both pages answer with the same buttons.
struct Pages {
  std::wstring question;  // the content with its link
  TASKDIALOGCONFIG ask = {};
  TASKDIALOGCONFIG contents = {};
};

// Posted rather than sent: the page is rebuilt, and the control that notified must not go while it speaks.
HRESULT CALLBACK OnEvent(HWND window, UINT event, WPARAM wparam, LPARAM lparam, LONG_PTR data) {
  Pages& pages = *reinterpret_cast<Pages*>(data);
  if (event == TDN_HYPERLINK_CLICKED && lparam != 0 &&
      std::wcscmp(reinterpret_cast<const wchar_t*>(lparam), kContentsLink) == 0) {
    ::PostMessageW(window, TDM_NAVIGATE_PAGE, 0, reinterpret_cast<LPARAM>(&pages.contents));
  } else if (event == TDN_BUTTON_CLICKED && wparam == kBackId) {
    ::PostMessageW(window, TDM_NAVIGATE_PAGE, 0, reinterpret_cast<LPARAM>(&pages.ask));
    return S_FALSE;  // the dialog stays
  }
  return S_OK;
}

DialogAnswer Show(const DialogText& text, const wchar_t* accept, const wchar_t* decline) {
  DialogAnswer answer;
  if (!InteractiveStation()) {
    answer.failure = "the window station is not interactive: no desktop to ask on";
    return answer;
  }
  // The decline button carries IDCANCEL, so that Esc and the window's close box choose it.
  const TASKDIALOG_BUTTON buttons[] = {{kBackId, L"&Back"}, {kAcceptId, accept}, {IDCANCEL, decline}};
  Pages pages;
  TASKDIALOGCONFIG& config = pages.ask;
  config.cbSize = sizeof(config);
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
  config.pszWindowTitle = text.title.c_str();
  config.pszMainInstruction = text.mainInstruction.c_str();
  config.pszContent = text.content.c_str();
  config.pButtons = buttons + 1;
  config.cButtons = ARRAYSIZE(buttons) - 1;
  // A stray Enter from whatever the person was typing when the program crashed must not send anything.
  config.nDefaultButton = IDCANCEL;
  config.cxWidth = kWidth;
  config.pfCallback = OnEvent;
  config.lpCallbackData = reinterpret_cast<LONG_PTR>(&pages);
  if (!text.details.empty()) {
    // Only this page reads links: the texts from the report (the contents page) stay plain.
    pages.question = text.content + L"\n\n<a href=\"" + kContentsLink + L"\">" + kContentsQuestion + L"</a>";
    config.dwFlags |= TDF_ENABLE_HYPERLINKS;
    config.pszContent = pages.question.c_str();
    pages.contents = config;
    pages.contents.dwFlags &= ~TDF_ENABLE_HYPERLINKS;
    pages.contents.pszMainInstruction = kContentsQuestion;
    pages.contents.pszContent = text.details.c_str();
    pages.contents.pButtons = buttons;
    pages.contents.cButtons = ARRAYSIZE(buttons);
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

// A caption within the buttons' least width: Wine sizes a longer one a little short and cuts its last letter.
DialogAnswer OfferHelpPage(const DialogText& text) { return Show(text, L"&Open page", L"&Close"); }

}  // namespace kx
