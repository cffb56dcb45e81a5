# The build folder is laid out like an installation: the program in <build>/bin and its files in
# <build>/share, so that the program finds them beside itself in both, wherever the build folder is.

# corvane_stage_files(<target> BASE <folder> DESTINATION <folder below the build> FILES ...)
# Copies each file (its path below BASE kept) into <build>/<DESTINATION> as part of <target>,
# again whenever the file changes.
function(corvane_stage_files target)
  cmake_parse_arguments(S "" "BASE;DESTINATION" "FILES" ${ARGN})
  set(outputs)
  foreach(file IN LISTS S_FILES)
    file(RELATIVE_PATH relative ${S_BASE} ${file})
    set(output ${PROJECT_BINARY_DIR}/${S_DESTINATION}/${relative})
    add_custom_command(OUTPUT ${output} COMMAND ${CMAKE_COMMAND} -E copy ${file} ${output} DEPENDS ${file}
      COMMENT "Staging ${S_DESTINATION}/${relative}" VERBATIM)
    list(APPEND outputs ${output})
  endforeach()
  target_sources(${target} PRIVATE ${outputs})
endfunction()
