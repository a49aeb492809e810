# A small Windows program of the tests or the bench: one static file with
# no runtime DLLs to copy into a Wine prefix, built with the same flags
# whatever the tree's build type (so sizes compare), into
# build/<tree>/<folder>/<output>.exe.
function(nm_add_windows_helper target source output folder)
  add_executable(${target} WIN32 ${source})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output}
    RUNTIME_OUTPUT_DIRECTORY "$<1:${CMAKE_BINARY_DIR}/${folder}>")
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE)
  if(MINGW)
    target_compile_options(${target} PRIVATE -O2 -municode)
    target_link_options(${target} PRIVATE -static -municode -mwindows)
  endif()
endfunction()
