# kx_deploy_runtime(<target>): after each build of the application <target>, copies the programs it ships
# (KXWindowsClientService.exe, KXLogTransport.exe, and KXCrashReporter.exe where there is one) beside its
# .exe, where the crash handler looks for them by default. The application's folder is then also its client
# directory: put kx_win_client_config.cfg there, or set clientDirectory.
function(kx_deploy_runtime target)
  if(NOT TARGET ${target})
    message(FATAL_ERROR "kx_deploy_runtime: there is no target named '${target}'")
  endif()
  set(programs)
  foreach(program KXWindowsClientService KXLogTransport KXCrashReporter)
    if(NOT TARGET kx::${program})
      continue()
    endif()
    list(APPEND programs "$<TARGET_FILE:kx::${program}>")
    # As a subproject the programs are built here: before the application that copies them.
    get_target_property(built_here kx::${program} ALIASED_TARGET)
    if(built_here)
      add_dependencies(${target} ${built_here})
    endif()
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_COMMAND}" -E copy_if_different ${programs} "$<TARGET_FILE_DIR:${target}>"
    COMMENT "Copying the crash reporting programs beside ${target}"
    VERBATIM)
endfunction()
