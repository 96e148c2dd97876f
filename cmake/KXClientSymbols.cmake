# kx_symbols(<target>... DESTINATION <dir>): after each build of each target (an .exe or .dll), stores its
# image in <dir> in the layout symbol servers use (docs/symbols.md), so that the release can ship stripped
# binaries and its dumps can still be named later:
#   <dir>/NAME/CODEID/NAME     the image as built, keyed by its time stamp and size (%08X%x)
#   <dir>/NAME/DEBUGID/NAME    the same file, keyed by its CodeView record (GUID and age), which stripping keeps
#   <dir>/PDB/DEBUGID/PDB      with Visual C++, the PDB the record names
# Keep <dir> for every release you ship; kxdumpinfo --symbols <dir> and the server read it as it is.
set(kx_store_symbols_script "${CMAKE_CURRENT_LIST_DIR}/KXClientStoreSymbols.cmake")

function(kx_symbols)
  cmake_parse_arguments(ARG "" "DESTINATION" "" ${ARGN})
  if(NOT ARG_DESTINATION OR NOT ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "kx_symbols: usage: kx_symbols(<target>... DESTINATION <dir>)")
  endif()
  get_filename_component(store "${ARG_DESTINATION}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  foreach(target IN LISTS ARG_UNPARSED_ARGUMENTS)
    if(NOT TARGET ${target})
      message(FATAL_ERROR "kx_symbols: there is no target named '${target}'")
    endif()
    if(TARGET kx_symbols_${target})
      message(FATAL_ERROR "kx_symbols: the symbols of '${target}' are already kept")
    endif()
    set(pdb)
    if(MSVC)
      set(pdb "-DKX_PDB=$<TARGET_PDB_FILE:${target}>")
    endif()
    # A step of its own after the target's link, so that the target may live in any folder of the project.
    set(stamp "${CMAKE_CURRENT_BINARY_DIR}/kx_symbols/${target}.stored")
    add_custom_command(OUTPUT "${stamp}"
      COMMAND "${CMAKE_COMMAND}" "-DKX_IMAGE=$<TARGET_FILE:${target}>" ${pdb} "-DKX_STORE=${store}"
              -P "${kx_store_symbols_script}"
      COMMAND "${CMAKE_COMMAND}" -E touch "${stamp}"
      DEPENDS ${target} "$<TARGET_FILE:${target}>" "${kx_store_symbols_script}"
      COMMENT "Keeping the symbols of ${target} in ${store}"
      VERBATIM)
    add_custom_target(kx_symbols_${target} ALL DEPENDS "${stamp}")
  endforeach()
endfunction()
