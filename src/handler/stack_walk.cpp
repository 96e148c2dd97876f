#include "handler/stack_walk.h"

#include <string>

#include "common/text_convert.h"

namespace kx {
namespace {

void DescribeModule(StackFrame& frame) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(frame.address)), &module)) {
    return;
  }
  wchar_t path[MAX_PATH] = L"";
  const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  const std::wstring full(path, length);
  // UTF-8, like every text the handler hands the application (the signature holds it).
  frame.module = NarrowToCodePage(full.substr(full.find_last_of(L'\\') + 1), CP_UTF8);
  frame.moduleBase = reinterpret_cast<std::uintptr_t>(module);
}

}  // namespace

bool UnwindFrame(CONTEXT& context, std::uintptr_t stackLow, std::uintptr_t stackHigh) {
  const auto onStack = [&](DWORD64 address) { return address >= stackLow && address + 8 <= stackHigh; };
  if (!onStack(context.Rsp)) return false;
  DWORD64 imageBase = 0;
  const PRUNTIME_FUNCTION function = ::RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
  if (function == nullptr) {
    // A leaf function (or code without unwind data): the return address is on top of the stack.
    context.Rip = *reinterpret_cast<const DWORD64*>(context.Rsp);
    context.Rsp += 8;
    return true;
  }
  void* handlerData = nullptr;
  DWORD64 establisherFrame = 0;
  const DWORD64 previousRsp = context.Rsp;
  ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData,
                     &establisherFrame, nullptr);
  // The stack only grows back towards its base; anything else is a corrupted frame.
  return context.Rsp > previousRsp && onStack(context.Rsp - 8);
}

std::vector<StackFrame> WalkStack(const CONTEXT& start, std::uintptr_t stackLow, std::uintptr_t stackHigh,
                                  std::size_t maxFrames) {
  std::vector<StackFrame> frames;
  CONTEXT context = start;
  while (frames.size() < maxFrames && context.Rip != 0) {
    StackFrame frame;
    frame.address = context.Rip;
    DescribeModule(frame);
    frames.push_back(frame);
    if (!UnwindFrame(context, stackLow, stackHigh)) break;
  }
  return frames;
}

}  // namespace kx
