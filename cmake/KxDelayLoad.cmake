# System libraries that a program loads at its first call into them instead of before its entry point.
#
# Every command of the service is a process of its own, and most use few of the libraries the program links:
# loading wininet, crypt32, wintrust, dbghelp and COM up front cost every command tens of milliseconds and
# about ten MiB of memory under Wine for libraries it never called (docs/performance.md).
#
#   kx_delay_load(<executable> <library>...)
#
# Only the executable decides: the libraries keep linking the plain names (wininet, ole32, ...), and the test
# programs that link them keep ordinary imports. With Visual C++ this is /DELAYLOAD and delayimp.lib. With
# MinGW-w64 it is a delay-import library per DLL, made at configure time by dlltool from the functions the
# toolchain's own import library names (mingw-w64 ships no .def files; its runtime provides
# __delayLoadHelper2), put in a folder searched before the toolchain's, so that every -l<library> of this
# executable's link takes it.
#
# Both helpers load the DLL by bare name, and raise an exception when it cannot be loaded: the program calls
# kx::RestrictLibraryLoadsToSystem32() (common/system_libraries.h) first in its entry point.

function(kx_delay_load executable)
  if(MSVC)
    foreach(library IN LISTS ARGN)
      target_link_options(${executable} PRIVATE "/DELAYLOAD:${library}.dll")
    endforeach()
    target_link_libraries(${executable} PRIVATE delayimp)
    return()
  endif()
  if(NOT MINGW)
    message(FATAL_ERROR "kx_delay_load: no delay loading for this toolchain")
  endif()
  # One folder per set of libraries: a library taken off the list changes the link command, so the program is
  # linked again, importing that library normally.
  string(JOIN "-" set ${ARGN})
  set(folder "${CMAKE_BINARY_DIR}/delayload/${executable}/${set}")
  foreach(library IN LISTS ARGN)
    kx_make_delay_import_library(${library} "${folder}")
    set_property(TARGET ${executable} APPEND PROPERTY LINK_DEPENDS "${folder}/lib${library}.a")
  endforeach()
  target_link_directories(${executable} BEFORE PRIVATE "${folder}")
endfunction()

# Writes <folder>/lib<library>.a, the delay-import library of <library>.dll.
function(kx_make_delay_import_library library folder)
  find_library(kx_import_library NAMES ${library} REQUIRED NO_CACHE)
  set(def "${folder}/${library}.def")
  set(archive "${folder}/lib${library}.a")
  file(MAKE_DIRECTORY "${folder}")
  execute_process(COMMAND "${CMAKE_NM}" --defined-only "${kx_import_library}"
                  OUTPUT_VARIABLE symbols RESULT_VARIABLE failed ERROR_QUIET)
  if(failed)
    message(FATAL_ERROR "kx_delay_load: cannot list the symbols of ${kx_import_library}")
  endif()
  # A function has a code thunk and an import pointer; a name without a thunk is data, which cannot be
  # delay-loaded and is left out.
  string(REGEX MATCHALL " T [A-Za-z0-9_@?$]+\n" thunks "${symbols}")
  set(exports "")
  foreach(thunk IN LISTS thunks)
    string(STRIP "${thunk}" thunk)
    string(SUBSTRING "${thunk}" 2 -1 function)
    string(FIND "${symbols}" " I __imp_${function}\n" pointer_at)
    if(NOT pointer_at EQUAL -1)
      string(APPEND exports "  ${function}\n")
    endif()
  endforeach()
  if(exports STREQUAL "")
    message(FATAL_ERROR "kx_delay_load: ${kx_import_library} names no function")
  endif()
  file(WRITE "${def}.new" "LIBRARY ${library}.dll\nEXPORTS\n${exports}")
  file(COPY_FILE "${def}.new" "${def}" ONLY_IF_DIFFERENT)
  file(REMOVE "${def}.new")
  if(EXISTS "${archive}" AND NOT "${def}" IS_NEWER_THAN "${archive}")
    return()
  endif()
  execute_process(COMMAND "${CMAKE_DLLTOOL}" --input-def "${def}" --dllname "${library}.dll"
                          --output-delaylib "${archive}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "kx_delay_load: dlltool could not make ${archive}")
  endif()
endfunction()
