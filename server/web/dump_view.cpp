#include "web/dump_view.h"

#include <nlohmann/json.hpp>

namespace kx::server::web {
namespace {

using nlohmann::json;

std::string TextAt(const json& object, const char* key) {
  const auto value = object.find(key);
  return value != object.end() && value->is_string() ? value->get<std::string>() : std::string();
}

const json& ListAt(const json& object, const char* key) {
  static const json kEmpty = json::array();
  const auto value = object.find(key);
  return value != object.end() && value->is_array() ? *value : kEmpty;
}

FrameView FrameOf(const json& frame) {
  FrameView view{TextAt(frame, "address"), TextAt(frame, "module"), TextAt(frame, "offset"), TextAt(frame, "trust"), {}};
  for (const json& function : ListAt(frame, "functions")) {
    if (!function.is_object()) continue;
    const auto line = function.find("line");
    view.functions.push_back({TextAt(function, "name"), TextAt(function, "file"),
                              line != function.end() && line->is_number_integer() ? line->get<std::int64_t>() : 0});
  }
  return view;
}

}  // namespace

std::optional<DumpView> ReadDumpView(const std::string& text) {
  const json root = json::parse(text, nullptr, false);
  if (!root.is_object()) return std::nullopt;
  DumpView view;
  if (const auto exception = root.find("exception"); exception != root.end() && exception->is_object()) {
    view.exception = TextAt(*exception, "name");
    if (view.exception.empty()) view.exception = TextAt(*exception, "code");
  }
  if (const auto signature = root.find("signature"); signature != root.end() && signature->is_object())
    view.signature = TextAt(*signature, "text");
  for (const json& thread : ListAt(root, "threads")) {
    if (!thread.is_object()) continue;
    ThreadView threadView;
    const auto id = thread.find("id");
    if (id != thread.end() && id->is_number_integer()) threadView.id = id->get<std::int64_t>();
    const auto crashed = thread.find("crashed");
    threadView.crashed = crashed != thread.end() && crashed->is_boolean() && crashed->get<bool>();
    for (const json& frame : ListAt(thread, "frames")) {
      if (frame.is_object()) threadView.frames.push_back(FrameOf(frame));
    }
    view.threads.push_back(std::move(threadView));
  }
  return view;
}

}  // namespace kx::server::web
