# The KXClient package: what an application's own CMake project uses of this tree, whether installed
# (find_package(KXClient CONFIG)) or added as a subproject (add_subdirectory). Both give the same names:
#   kx::handler                   the crash handler library, with the libraries it rests on and their usage
#                                 requirements (definitions, C++17, -static with MinGW-w64, system libraries)
#   kx::KXWindowsClientService, kx::KXLogTransport   the programs an application ships (imported programs)
#   kx::kxdumpinfo                the dump reader for support engineers, when built
#   kx_deploy_runtime(<target>)   copies the shipped programs beside the application after each build
#   kx_symbols(<target>... DESTINATION <dir>)   keeps each build's images (and PDBs) in a symbol store
# Included from the top-level CMakeLists.txt once every target exists; Windows builds only.
include(CMakePackageConfigHelpers)
include(GNUInstallDirs)

# What an application ships beside its .exe; a crash reporter front end joins them when this tree has one.
set(kx_shipped_programs KXWindowsClientService KXLogTransport)
if(TARGET KXCrashReporter)
  list(APPEND kx_shipped_programs KXCrashReporter)
endif()
set(kx_packaged_programs ${kx_shipped_programs})
if(KX_BUILD_TOOLS)
  list(APPEND kx_packaged_programs kxdumpinfo)
endif()
# The headers an application includes, from the include folder of their own; they include no other header of
# this tree.
set(kx_public_headers kx/crash_handler.h kx/report_policy.h)

# Every project library a target rests on, itself included: the export must hold them all, or CMake refuses
# it. Generator expressions (our warnings, wrapped in BUILD_INTERFACE) and system libraries are not targets.
function(kx_library_closure target out)
  set(found "${${out}}")
  if(NOT TARGET ${target} OR ${target} IN_LIST found)
    return()
  endif()
  list(APPEND found ${target})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
  else()
    get_target_property(links ${target} LINK_LIBRARIES)
  endif()
  foreach(link IN LISTS links)
    if(TARGET "${link}")
      kx_library_closure(${link} found)
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(kx_libraries)
kx_library_closure(kx_handler kx_libraries)
# The same kx:: names in this build as in the installed package.
foreach(library IN LISTS kx_libraries)
  string(REGEX REPLACE "^kx_" "" name ${library})
  set_target_properties(${library} PROPERTIES EXPORT_NAME ${name})
  add_library(kx::${name} ALIAS ${library})
endforeach()
foreach(program IN LISTS kx_packaged_programs)
  add_executable(kx::${program} ALIAS ${program})
endforeach()
include("${CMAKE_CURRENT_LIST_DIR}/KXClientDeploy.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/KXClientSymbols.cmake")

# This tree's own release keeps the symbols of every program it builds, so that its stripped programs
# (cmake --install --strip) and their dumps can be named: build/<preset>/symbols, one per release.
if(PROJECT_IS_TOP_LEVEL)
  set(kx_symbol_programs ${kx_packaged_programs})
  foreach(program KXCrashDemo)
    if(TARGET ${program})
      list(APPEND kx_symbol_programs ${program})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES kx_symbol_programs)
  kx_symbols(${kx_symbol_programs} DESTINATION "${PROJECT_BINARY_DIR}/symbols")
endif()

if(NOT KX_INSTALL)
  return()
endif()

set(kx_config_dir "${CMAKE_INSTALL_LIBDIR}/cmake/KXClient")
set(kx_data_dir "${CMAKE_INSTALL_DATADIR}/KXClient")
install(TARGETS ${kx_libraries} ${kx_packaged_programs} EXPORT KXClientTargets
        ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
foreach(header IN LISTS kx_public_headers)
  get_filename_component(folder "${header}" DIRECTORY)
  install(FILES "${PROJECT_SOURCE_DIR}/include/${header}" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/${folder}")
endforeach()
install(EXPORT KXClientTargets NAMESPACE kx:: DESTINATION "${kx_config_dir}")

configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/KXClientConfig.cmake.in"
                              "${PROJECT_BINARY_DIR}/package/KXClientConfig.cmake"
                              INSTALL_DESTINATION "${kx_config_dir}" PATH_VARS kx_data_dir)
write_basic_package_version_file("${PROJECT_BINARY_DIR}/package/KXClientConfigVersion.cmake"
                                 COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/package/KXClientConfig.cmake"
              "${PROJECT_BINARY_DIR}/package/KXClientConfigVersion.cmake"
              "${CMAKE_CURRENT_LIST_DIR}/KXClientDeploy.cmake"
              "${CMAKE_CURRENT_LIST_DIR}/KXClientSymbols.cmake"
              "${CMAKE_CURRENT_LIST_DIR}/KXClientStoreSymbols.cmake"
        DESTINATION "${kx_config_dir}")
# For server authors and for applications configured from the installed tree alone.
install(FILES "${PROJECT_SOURCE_DIR}/docs/OrvanKestrix.dtd" "${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake"
        DESTINATION "${kx_data_dir}")
