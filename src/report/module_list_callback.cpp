#include "report/module_list_callback.h"

#include <string>
#include <string_view>

#include "report/module_ids_win.h"
#include "report/module_list.h"

namespace kx {

BOOL CALLBACK ModuleListCallback(PVOID parameter, const PMINIDUMP_CALLBACK_INPUT input,
                                 PMINIDUMP_CALLBACK_OUTPUT /*output*/) {
  if (parameter == nullptr || input == nullptr || input->CallbackType != ModuleCallback) return TRUE;
  const MINIDUMP_MODULE_CALLBACK& module = input->Module;
  const std::wstring_view path =
      module.FullPath != nullptr ? std::wstring_view(module.FullPath) : std::wstring_view();
  try {
    static_cast<std::wstring*>(parameter)->append(
        FormatBinaryImageLine(module.BaseOfImage, module.SizeOfImage, path,
                              ReadModuleIds(input->ProcessHandle, module.BaseOfImage)));
  } catch (...) {
    // Out of memory: this module's line is lost. No exception may unwind through the debug help library.
  }
  return TRUE;
}

}  // namespace kx
