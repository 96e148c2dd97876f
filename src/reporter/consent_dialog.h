// The reporter's two pages, as task dialogs: the consent question and, after a sent report, the help page.
#pragma once

#include <string>

#include "reporter/consent_text.h"

namespace kx {

struct DialogAnswer {
  bool accepted = false;  // "Send report" / "Open page"
  std::string failure;    // why no page could be shown; empty when one was answered
};

// Shows the page and waits for its answer. Enter and Esc both choose the second button, which is also the
// dialog's cancel button (closing the window chooses it too).
DialogAnswer AskConsent(const DialogText& text);
DialogAnswer OfferHelpPage(const DialogText& text);

}  // namespace kx
