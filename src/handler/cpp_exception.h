// The type and text of the C++ exception that ended the application, read in the crashed thread into
// fixed room: the crash data message carries them to the report.
#pragma once

#include <windows.h>

namespace kx {

struct CppExceptionText {
  char type[512] = "";   // demangled ("std::runtime_error"); empty when unknown
  char what[1024] = "";  // what() of a std::exception, cut to the room; empty for other types
};

// For std::terminate's handler: the exception being handled, if any. With GCC-compatible runtimes the type
// of any exception; with MSVC's, only of a std::exception.
void DescribeCurrentException(CppExceptionText& text);

// For the unhandled-exception filter: an MSVC C++ exception (code 0xE06D7363) described from its throw
// information. Compiled only with MSVC; elsewhere `text` stays empty. False when the record is not one.
bool DescribeThrownException(const EXCEPTION_RECORD& record, CppExceptionText& text);

}  // namespace kx
