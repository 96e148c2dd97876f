// The process's one annotation table and its two kinds of users: the application's threads, which change
// it one at a time, and the handler's thread, which copies it without ever waiting for them.
#pragma once

#include <string_view>
#include <vector>

#include "intake/crash_data.h"

namespace kx {

// From any thread, before Install too. False when the table refuses the change (annotation_table.h) or once
// a crash is being handled: what the report holds is settled then.
bool StoreAnnotation(std::string_view key, std::string_view value);
bool DropAnnotation(std::string_view key);
// Called by the crashed thread: later changes are refused.
void FreezeAnnotations();

// For the handler's thread (one reader at a time): a copy made while no change was under way. A change
// stays under way for good when its thread crashed in it, and another thread may keep changing the table:
// after about a hundred tries a millisecond apart, false ("busy") and no annotations.
bool ReadAnnotations(std::vector<Annotation>& annotations);

}  // namespace kx
