#include "app/open_solution_link.h"

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include "common/text_convert.h"
#include "common/win_handles.h"
#include "intake/named_pipe.h"
#include "net/solution_answer.h"

namespace kx {

namespace {

void OpenInBrowser(const std::wstring& link) {
  // The open verb may be served by shell extensions, which need COM.
  const ComApartment apartment(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  ::ShellExecuteW(nullptr, L"open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

void OpenSolutionLink(const std::string& crashIdentifier) {
  std::string link;
  {
    NamedPipe pipe;
    pipe.Connect(crashIdentifier);
    link = pipe.ReadMessage();
  }
  if (!IsOpenableLink(link)) return;
  OpenInBrowser(WidenFromCodePage(link, CP_ACP));
}

}  // namespace kx
