# Compiler settings shared by every target of ours (never applied to GoogleTest).

add_library(kx_warnings INTERFACE)
if(MSVC)
  target_compile_options(kx_warnings INTERFACE /W4 /WX /permissive- /utf-8)
else()
  target_compile_options(kx_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Werror)
endif()

add_library(kx_platform INTERFACE)
if(WIN32)
  target_compile_definitions(kx_platform INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
  if(MINGW)
    # Link the C++ runtime and winpthread statically: the executables need only DLLs that ship with Windows.
    target_link_options(kx_platform INTERFACE -static)
    # A CodeView record (GUID and age) in every image, ours and every application's that links kx::handler:
    # its dumps then say which build crashed, and stripping keeps it (docs/symbols.md). Visual C++ writes
    # one with /DEBUG, which RelWithDebInfo and Debug builds pass.
    target_link_options(kx_platform INTERFACE "LINKER:--build-id")
  endif()
  # Our own build folder even as another project's subproject: kx_deploy_runtime copies what an application
  # ships from here.
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/bin")
endif()

if(KX_SANITIZE AND NOT WIN32)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(KX_FUZZ)
  if(WIN32 OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KX_FUZZ needs a host build with clang (preset fuzz)")
  endif()
  # Coverage feedback for the fuzzer in every library; the targets link libFuzzer's main themselves.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(WIN32)
  include(KxDelayLoad)
  # Link settings of the shipped programs, which every command of a crash starts anew.
  add_library(kx_shipped_image INTERFACE)
  if(MINGW)
    # Sections at page-aligned file offsets, as Visual C++ lays them out in effect: Wine maps such an image
    # from the file, while one packed at 512 bytes (GNU ld's default) is read into private memory whole,
    # DWARF sections included (2.7 MiB more for every command of the service under Wine).
    target_link_options(kx_shipped_image INTERFACE "LINKER:--file-alignment=0x1000")
  endif()
endif()

if(CMAKE_CROSSCOMPILING AND WIN32)
  # Every test program runs under Wine, in a prefix of the build tree's own.
  set(KX_WINE_PREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/tools/wine-run;${KX_WINE_PREFIX}")
endif()

# kx_add_library(NAME PURE|WIN32 SOURCES ... LIBS ...)
#   PURE:  platform-free code; built on every platform.
#   WIN32: thin layers over the Win32 API; built only for Windows.
function(kx_add_library name)
  cmake_parse_arguments(ARG "PURE;WIN32" "" "SOURCES;LIBS" ${ARGN})
  if(ARG_WIN32 AND NOT WIN32)
    return()
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  # Headers are included as "folder/name.h" from src/. An installed package holds only the public headers
  # (kx_api's include/kx): its libraries' own headers stay behind, so they name no installed folder.
  target_include_directories(${name} PUBLIC "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>")
  # Our warnings are for our own sources only; they never reach an application linking the library.
  target_link_libraries(${name} PUBLIC ${ARG_LIBS} PRIVATE "$<BUILD_INTERFACE:kx_warnings>")
  if(WIN32)
    target_link_libraries(${name} PUBLIC kx_platform)
  endif()
endfunction()
