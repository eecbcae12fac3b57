# Manual pages, made from each program's --help and --version by help2man
# (scripts/make-manpage) and installed with the program. Without help2man
# the build goes on without them.
find_program(OVALIS_HELP2MAN help2man)

# Everything the packages hold, so packaging builds no test.
add_custom_target(packaged)

# ovalis_manpage(<target> <page name> "<one-line summary>" [SUBCOMMAND <word>])
# The page of "<program> <word>" comes from "<program> <word> --help".
function(ovalis_manpage target page summary)
  cmake_parse_arguments(MAN "" "SUBCOMMAND" "" ${ARGN})
  if(NOT OVALIS_HELP2MAN)
    return()
  endif()
  set(out ${CMAKE_BINARY_DIR}/man/${page}.1)
  set(include ${CMAKE_SOURCE_DIR}/man/${page}.h2m)
  set(include_arg -)
  set(deps ${target} ${CMAKE_SOURCE_DIR}/scripts/make-manpage)
  if(EXISTS ${include})
    set(include_arg ${include})
    list(APPEND deps ${include})
  endif()
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-manpage ${out} $<TARGET_FILE:${target}> ${summary}
            ${include_arg} ${MAN_SUBCOMMAND}
    DEPENDS ${deps}
    COMMENT "Manual page ${page}(1)"
    VERBATIM)
  add_custom_target(man_${page} ALL DEPENDS ${out})
  add_dependencies(packaged man_${page})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
